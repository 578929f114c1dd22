// Settings services over QSettings, in an INI file of our own name.
#include "settings.h"

#include <QDir>
#include <QSettings>
#include <QStandardPaths>
#include <QString>

namespace {

bool g_enabled = true;

QString FilePath() {
    // Looked up every time: QSettings' own user scope caches the location for the whole process.
    QString config = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    if (config.isEmpty()) config = QDir::homePath() + QStringLiteral("/.config");
    return config + QStringLiteral("/kvor-zodid/kvor-zodid.conf");
}

int Store(const char *key, const QVariant &value) {
    if (!g_enabled || !key || !*key) return -1;
    QSettings settings(FilePath(), QSettings::IniFormat);
    settings.setValue(QString::fromUtf8(key), value);
    settings.sync();
    return settings.status() == QSettings::NoError ? 0 : -1;
}

} // namespace

void SettingsEnable(int on) {
    g_enabled = on != 0;
}

int SettingsEnabled(void) {
    return g_enabled ? 1 : 0;
}

std::string SettingsFilePath(void) {
    return FilePath().toStdString();
}

std::string SettingsGetString(const char *key, const std::string &fallback) {
    if (!g_enabled || !key || !*key) return fallback;
    QSettings settings(FilePath(), QSettings::IniFormat);
    const QVariant v = settings.value(QString::fromUtf8(key));
    if (!v.isValid()) return fallback;
    return v.toString().toStdString();
}

int SettingsGetInt(const char *key, int fallback) {
    if (!g_enabled || !key || !*key) return fallback;
    QSettings settings(FilePath(), QSettings::IniFormat);
    const QVariant v = settings.value(QString::fromUtf8(key));
    bool ok = false;
    const int n = v.toInt(&ok);
    return ok ? n : fallback;
}

int SettingsSetString(const char *key, const std::string &value) {
    return Store(key, QString::fromStdString(value));
}

int SettingsSetInt(const char *key, int value) {
    return Store(key, value);
}
