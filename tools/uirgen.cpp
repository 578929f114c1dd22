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
#include <QRegularExpression>
#include <QSet>
#include <QTextStream>

#include <cmath>
#include <cstdio>

static int fail(const QString &message) {
    std::fprintf(stderr, "uirgen: %s\n", qPrintable(message));
    return 1;
}

// Every name goes into generated C++ as it stands: anything but an identifier would break the
// build far from its cause, or put text of the panel file's choosing into the program.
static bool Identifier(const QJsonValue &v) {
    static const QRegularExpression pattern(QStringLiteral("^[A-Za-z_][A-Za-z0-9_]*$"));
    return v.isString() && pattern.match(v.toString()).hasMatch();
}

static QString Shown(const QJsonValue &v) {
    if (v.isString()) return QStringLiteral("\"%1\"").arg(v.toString());
    return v.isUndefined() ? QStringLiteral("(none)") : QStringLiteral("(not a text)");
}

int main(int argc, char **argv) {
    if (argc != 4) return fail("usage: uirgen PANELFILE HEADER SOURCE");
    QFile in(QString::fromLocal8Bit(argv[1]));
    if (!in.open(QIODevice::ReadOnly)) return fail(QString("cannot read %1").arg(argv[1]));
    QJsonParseError err;
    const QJsonDocument doc = QJsonDocument::fromJson(in.readAll(), &err);
    if (doc.isNull()) return fail(QString("%1: %2").arg(argv[1], err.errorString()));
    const QString file = QString::fromLocal8Bit(argv[1]);
    if (!doc.isObject() || !doc.object().value("panels").isArray())
        return fail(QString("%1: no \"panels\" list").arg(file));

    QString header;
    QTextStream h(&header);
    h << "// Generated from the panel file by uirgen. Do not edit.\n#pragma once\n\n"
      << "#include \"userint.h\"\n\n";
    QStringList ctrlCallbacks, panelCallbacks;
    QSet<QString> seen;
    // A name defined twice would leave the first control unreachable under its name (the
    // compiler only warns of it), and a resource id given twice loads the first panel for both.
    QSet<QString> defined;
    QSet<int> resourceIds;
    auto define = [&](const QString &name, const QString &where) {
        if (defined.contains(name))
            return fail(QString("%1: %2 is defined twice (%3)").arg(file, name, where));
        defined.insert(name);
        return 0;
    };
    auto callbackName = [&](const QJsonObject &o, const QString &where, QString *name) {
        const QJsonValue v = o.value("callback");
        if (!v.isUndefined() && !Identifier(v))
            return fail(QString("%1: %2 has the callback %3, not a name").arg(file, where, Shown(v)));
        *name = v.toString();
        return 0;
    };
    int panelNumber = 0;
    for (const QJsonValue &pv : doc.object().value("panels").toArray()) {
        ++panelNumber;
        if (!pv.isObject()) return fail(QString("%1: panel %2 is not an object").arg(file).arg(panelNumber));
        const QJsonObject panel = pv.toObject();
        if (!Identifier(panel.value("name")))
            return fail(QString("%1: panel %2 has the name %3, not a name")
                            .arg(file)
                            .arg(panelNumber)
                            .arg(Shown(panel.value("name"))));
        const QString pname = panel.value("name").toString();
        const QJsonValue rid = panel.value("resource_id");
        const double ridValue = rid.toDouble(0.5);
        if (!rid.isDouble() || ridValue != std::floor(ridValue) || ridValue < -2147483648.0 ||
            ridValue > 2147483647.0)
            return fail(QString("%1: panel %2 has no whole resource id").arg(file, pname));
        if (resourceIds.contains(static_cast<int>(ridValue)))
            return fail(QString("%1: panel %2 has the resource id %3 of an earlier panel")
                            .arg(file, pname)
                            .arg(static_cast<int>(ridValue)));
        resourceIds.insert(static_cast<int>(ridValue));
        if (define(pname, "panel")) return 1;
        h << "#define " << pname << " " << static_cast<int>(ridValue) << "\n";
        QString pcb;
        if (callbackName(panel, "panel " + pname, &pcb)) return 1;
        // The two kinds of callback take different arguments: one function cannot be both.
        if (ctrlCallbacks.contains(pcb))
            return fail(
                QString("%1: %2 is named as the callback of a panel and of a control").arg(file, pcb));
        if (!pcb.isEmpty() && !seen.contains(pcb)) {
            seen.insert(pcb);
            panelCallbacks << pcb;
        }
        const QJsonValue controls = panel.value("controls");
        if (!controls.isUndefined() && !controls.isArray())
            return fail(QString("%1: the controls of panel %2 are not a list").arg(file, pname));
        int id = 2;
        for (const QJsonValue &cv : controls.toArray()) {
            const QString where = QString("control %1 of panel %2").arg(id - 1).arg(pname);
            if (!cv.isObject()) return fail(QString("%1: %2 is not an object").arg(file, where));
            const QJsonObject ctrl = cv.toObject();
            if (!Identifier(ctrl.value("name")))
                return fail(QString("%1: %2 has the name %3, not a name")
                                .arg(file, where, Shown(ctrl.value("name"))));
            const QString cname = pname + "_" + ctrl.value("name").toString();
            if (define(cname, where)) return 1;
            h << "#define " << cname << " " << id << "\n";
            const QJsonValue aliases = ctrl.value("aliases");
            if (!aliases.isUndefined() && !aliases.isArray())
                return fail(QString("%1: the aliases of %2 are not a list").arg(file, cname));
            for (const QJsonValue &alias : aliases.toArray()) {
                if (!Identifier(alias))
                    return fail(
                        QString("%1: %2 has the alias %3, not a name").arg(file, cname, Shown(alias)));
                if (define(pname + "_" + alias.toString(), "an alias of " + cname)) return 1;
                h << "#define " << pname << "_" << alias.toString() << " " << cname << "\n";
            }
            QString cb;
            if (callbackName(ctrl, cname, &cb)) return 1;
            if (panelCallbacks.contains(cb))
                return fail(
                    QString("%1: %2 is named as the callback of a panel and of a control").arg(file, cb));
            if (!cb.isEmpty() && !seen.contains(cb)) {
                seen.insert(cb);
                ctrlCallbacks << cb;
            }
            ++id;
        }
        h << "\n";
    }
    // A callback is a function named like no id.
    for (const QString &cb : panelCallbacks + ctrlCallbacks)
        if (defined.contains(cb))
            return fail(QString("%1: the callback %2 has the name of an id").arg(file, cb));
    h << "// Panel callbacks\n";
    for (const QString &cb : panelCallbacks)
        h << "int " << cb << "(int panel, int event, void *callbackData, int eventData1, int eventData2);\n";
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
    for (const QString &cb : panelCallbacks)
        s << "    {\"" << cb << "\", nullptr, " << cb << "},\n";
    for (const QString &cb : ctrlCallbacks)
        s << "    {\"" << cb << "\", " << cb << ", nullptr},\n";
    s << "};\nconst int kPanelFileCallbackCount = " << (panelCallbacks.size() + ctrlCallbacks.size())
      << ";\n";
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
