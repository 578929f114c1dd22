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

// The ids and callbacks of a panel file, checked as they are read: every check that fails has
// said why on standard error, and nothing is written then.
class Generator {
  public:
    explicit Generator(const QString &file) : file_(file), h_(&header_) {
        h_ << "// Generated from the panel file by uirgen. Do not edit.\n#pragma once\n\n"
           << "#include \"userint.h\"\n\n";
    }
    bool Panel(const QJsonValue &pv, int number);
    bool Finish();
    QString Header() const { return header_; }
    QString Source() const;

  private:
    bool Control(const QJsonValue &cv, const QString &pname, int id);
    // A name defined twice would leave the first control unreachable under its name (the
    // compiler only warns of it), and a resource id given twice loads the first panel for both.
    bool Define(const QString &name, const QString &where) {
        if (defined_.contains(name))
            return !fail(QString("%1: %2 is defined twice (%3)").arg(file_, name, where));
        defined_.insert(name);
        return true;
    }
    bool CallbackName(const QJsonObject &o, const QString &where, QString *name) const {
        const QJsonValue v = o.value("callback");
        if (!v.isUndefined() && !Identifier(v))
            return !fail(QString("%1: %2 has the callback %3, not a name").arg(file_, where, Shown(v)));
        *name = v.toString();
        return true;
    }
    // The two kinds of callback take different arguments: one function cannot be both.
    bool Callback(const QString &cb, QStringList *kind, const QStringList &other) {
        if (other.contains(cb))
            return !fail(
                QString("%1: %2 is named as the callback of a panel and of a control").arg(file_, cb));
        if (!cb.isEmpty() && !seen_.contains(cb)) {
            seen_.insert(cb);
            *kind << cb;
        }
        return true;
    }

    const QString file_;
    QString header_;
    QTextStream h_;
    QStringList ctrlCallbacks_, panelCallbacks_;
    QSet<QString> seen_, defined_;
    QSet<int> resourceIds_;
};

bool Generator::Panel(const QJsonValue &pv, int number) {
    if (!pv.isObject()) return !fail(QString("%1: panel %2 is not an object").arg(file_).arg(number));
    const QJsonObject panel = pv.toObject();
    if (!Identifier(panel.value("name")))
        return !fail(QString("%1: panel %2 has the name %3, not a name")
                         .arg(file_)
                         .arg(number)
                         .arg(Shown(panel.value("name"))));
    const QString pname = panel.value("name").toString();
    const QJsonValue rid = panel.value("resource_id");
    const double ridValue = rid.toDouble(0.5);
    if (!rid.isDouble() || ridValue != std::floor(ridValue) || ridValue < -2147483648.0 ||
        ridValue > 2147483647.0)
        return !fail(QString("%1: panel %2 has no whole resource id").arg(file_, pname));
    const int id = static_cast<int>(ridValue);
    if (resourceIds_.contains(id))
        return !fail(
            QString("%1: panel %2 has the resource id %3 of an earlier panel").arg(file_, pname).arg(id));
    resourceIds_.insert(id);
    if (!Define(pname, "panel")) return false;
    h_ << "#define " << pname << " " << id << "\n";
    QString pcb;
    if (!CallbackName(panel, "panel " + pname, &pcb) || !Callback(pcb, &panelCallbacks_, ctrlCallbacks_))
        return false;
    const QJsonValue controls = panel.value("controls");
    if (!controls.isUndefined() && !controls.isArray())
        return !fail(QString("%1: the controls of panel %2 are not a list").arg(file_, pname));
    int cid = 2;
    for (const QJsonValue &cv : controls.toArray())
        if (!Control(cv, pname, cid++)) return false;
    h_ << "\n";
    return true;
}

bool Generator::Control(const QJsonValue &cv, const QString &pname, int id) {
    const QString where = QString("control %1 of panel %2").arg(id - 1).arg(pname);
    if (!cv.isObject()) return !fail(QString("%1: %2 is not an object").arg(file_, where));
    const QJsonObject ctrl = cv.toObject();
    if (!Identifier(ctrl.value("name")))
        return !fail(
            QString("%1: %2 has the name %3, not a name").arg(file_, where, Shown(ctrl.value("name"))));
    const QString cname = pname + "_" + ctrl.value("name").toString();
    if (!Define(cname, where)) return false;
    h_ << "#define " << cname << " " << id << "\n";
    const QJsonValue aliases = ctrl.value("aliases");
    if (!aliases.isUndefined() && !aliases.isArray())
        return !fail(QString("%1: the aliases of %2 are not a list").arg(file_, cname));
    for (const QJsonValue &alias : aliases.toArray()) {
        if (!Identifier(alias))
            return !fail(QString("%1: %2 has the alias %3, not a name").arg(file_, cname, Shown(alias)));
        if (!Define(pname + "_" + alias.toString(), "an alias of " + cname)) return false;
        h_ << "#define " << pname << "_" << alias.toString() << " " << cname << "\n";
    }
    QString cb;
    return CallbackName(ctrl, cname, &cb) && Callback(cb, &ctrlCallbacks_, panelCallbacks_);
}

// The callbacks' declarations end the header.
bool Generator::Finish() {
    // A callback is a function named like no id.
    for (const QString &cb : panelCallbacks_ + ctrlCallbacks_)
        if (defined_.contains(cb))
            return !fail(QString("%1: the callback %2 has the name of an id").arg(file_, cb));
    h_ << "// Panel callbacks\n";
    for (const QString &cb : panelCallbacks_)
        h_ << "int " << cb << "(int panel, int event, void *callbackData, int eventData1, int eventData2);\n";
    h_ << "\n// Control callbacks\n";
    for (const QString &cb : ctrlCallbacks_)
        h_ << "int " << cb
           << "(int panel, int control, int event, void *callbackData, int eventData1, "
              "int eventData2);\n";
    h_ << "\n// Every callback named in the panel file, for RegisterCallbacks.\n"
       << "extern const CallbackEntry kPanelFileCallbacks[];\n"
       << "extern const int kPanelFileCallbackCount;\n";
    h_.flush();
    return true;
}

QString Generator::Source() const {
    QString source;
    QTextStream s(&source);
    s << "// Generated from the panel file by uirgen. Do not edit.\n"
      << "#include \"K-VOR-RNZazorU30.h\"\n\n"
      << "const CallbackEntry kPanelFileCallbacks[] = {\n";
    for (const QString &cb : panelCallbacks_)
        s << "    {\"" << cb << "\", nullptr, " << cb << "},\n";
    for (const QString &cb : ctrlCallbacks_)
        s << "    {\"" << cb << "\", " << cb << ", nullptr},\n";
    s << "};\nconst int kPanelFileCallbackCount = " << (panelCallbacks_.size() + ctrlCallbacks_.size())
      << ";\n";
    s.flush();
    return source;
}

// Writes only when the text changed, so that nothing rebuilds needlessly.
static bool WriteIfChanged(const char *path, const QString &text) {
    QFile f(QString::fromLocal8Bit(path));
    const QByteArray bytes = text.toUtf8();
    if (f.open(QIODevice::ReadOnly) && f.readAll() == bytes) return true;
    f.close();
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate)) return false;
    return f.write(bytes) == bytes.size();
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

    Generator generator(file);
    int number = 0;
    for (const QJsonValue &pv : doc.object().value("panels").toArray())
        if (!generator.Panel(pv, ++number)) return 1;
    if (!generator.Finish()) return 1;
    if (!WriteIfChanged(argv[2], generator.Header())) return fail(QString("cannot write %1").arg(argv[2]));
    if (!WriteIfChanged(argv[3], generator.Source())) return fail(QString("cannot write %1").arg(argv[3]));
    return 0;
}
