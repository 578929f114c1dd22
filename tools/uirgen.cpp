// Generates the header of panel and control ids, and the table of callbacks, from the panel file.
//
//   uirgen PANELFILE HEADER SOURCE
//
// Panels get their resource id; controls get ids numbered from 2 in the order of the file, per
// panel, named PANEL_CONTROL. A control's "aliases" name the same id under further names.
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>
#include <QTextStream>

#include <cstdio>

static int fail(const QString &message) {
    std::fprintf(stderr, "uirgen: %s\n", qPrintable(message));
    return 1;
}

int main(int argc, char **argv) {
    if (argc != 4) return fail("usage: uirgen PANELFILE HEADER SOURCE");
    QFile in(QString::fromLocal8Bit(argv[1]));
    if (!in.open(QIODevice::ReadOnly)) return fail(QString("cannot read %1").arg(argv[1]));
    QJsonParseError err;
    const QJsonDocument doc = QJsonDocument::fromJson(in.readAll(), &err);
    if (doc.isNull()) return fail(QString("%1: %2").arg(argv[1], err.errorString()));

    QString header;
    QTextStream h(&header);
    h << "// Generated from the panel file by uirgen. Do not edit.\n#pragma once\n\n"
      << "#include \"userint.h\"\n\n";
    QStringList ctrlCallbacks, panelCallbacks;
    QSet<QString> seen;
    for (const QJsonValue &pv : doc.object().value("panels").toArray()) {
        const QJsonObject panel = pv.toObject();
        const QString pname = panel.value("name").toString();
        h << "#define " << pname << " " << panel.value("resource_id").toInt() << "\n";
        const QString pcb = panel.value("callback").toString();
        if (!pcb.isEmpty() && !seen.contains(pcb)) {
            seen.insert(pcb);
            panelCallbacks << pcb;
        }
        int id = 2;
        for (const QJsonValue &cv : panel.value("controls").toArray()) {
            const QJsonObject ctrl = cv.toObject();
            const QString cname = pname + "_" + ctrl.value("name").toString();
            h << "#define " << cname << " " << id << "\n";
            for (const QJsonValue &alias : ctrl.value("aliases").toArray())
                h << "#define " << pname << "_" << alias.toString() << " " << cname << "\n";
            const QString cb = ctrl.value("callback").toString();
            if (!cb.isEmpty() && !seen.contains(cb)) {
                seen.insert(cb);
                ctrlCallbacks << cb;
            }
            ++id;
        }
        h << "\n";
    }
    h << "// Panel callbacks\n";
    for (const QString &cb : panelCallbacks)
        h << "int " << cb
          << "(int panel, int event, void *callbackData, int eventData1, int eventData2);\n";
    h << "\n// Control callbacks\n";
    for (const QString &cb : ctrlCallbacks)
        h << "int " << cb
          << "(int panel, int control, int event, void *callbackData, int eventData1, "
             "int eventData2);\n";
    h << "\n// Every callback named in the panel file, for RegisterCallbacks.\n"
      << "extern const CallbackEntry kPanelFileCallbacks[];\n"
      << "extern const int kPanelFileCallbackCount;\n";

    QString source;
    QTextStream s(&source);
    s << "// Generated from the panel file by uirgen. Do not edit.\n"
      << "#include \"K-VOR-RNZazorU30.h\"\n\n"
      << "const CallbackEntry kPanelFileCallbacks[] = {\n";
    for (const QString &cb : panelCallbacks) s << "    {\"" << cb << "\", nullptr, " << cb << "},\n";
    for (const QString &cb : ctrlCallbacks) s << "    {\"" << cb << "\", " << cb << ", nullptr},\n";
    s << "};\nconst int kPanelFileCallbackCount = "
      << (panelCallbacks.size() + ctrlCallbacks.size()) << ";\n";
    h.flush();
    s.flush();

    // Write only when the text changed, so that nothing rebuilds needlessly.
    auto write = [](const char *path, const QString &text) {
        QFile f(QString::fromLocal8Bit(path));
        const QByteArray bytes = text.toUtf8();
        if (f.open(QIODevice::ReadOnly) && f.readAll() == bytes) return true;
        f.close();
        if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate)) return false;
        return f.write(bytes) == bytes.size();
    };
    if (!write(argv[2], header)) return fail(QString("cannot write %1").arg(argv[2]));
    if (!write(argv[3], source)) return fail(QString("cannot write %1").arg(argv[3]));
    return 0;
}
