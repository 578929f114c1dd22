// The generator of control ids: it writes what the program is built from, so a panel file it
// cannot turn into sound C++ (a name defined twice, text that is no name, a resource id given
// twice) is refused with a message, and nothing is written.
#include <gtest/gtest.h>

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <string>

namespace {

struct Generated {
    int exitCode = -1;
    QString errors;
    bool wroteHeader = false;
    QString header;
};

Generated Generate(const std::string &json) {
    QTemporaryDir dir;
    const QString in = dir.filePath("in.uir"), header = dir.filePath("ids.h"),
                  source = dir.filePath("cb.cpp");
    QFile f(in);
    EXPECT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(json.data(), static_cast<qint64>(json.size()));
    f.close();
    QProcess p;
    p.start(QStringLiteral(KVOR_UIRGEN), {in, header, source});
    EXPECT_TRUE(p.waitForFinished(30000));
    Generated r;
    r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.errors = QString::fromLocal8Bit(p.readAllStandardError());
    QFile h(header);
    r.wroteHeader = h.open(QIODevice::ReadOnly);
    if (r.wroteHeader) r.header = QString::fromUtf8(h.readAll());
    return r;
}

std::string Panels(const std::string &panels) {
    return "{\"panels\": [" + panels + "]}";
}

TEST(Uirgen, RefusesAPanelFileItCannotTurnIntoSoundIds) {
    const struct {
        const char *what;
        std::string json;
        const char *message; // a part of what it says
    } cases[] = {
        {"a control name twice in a panel",
         Panels(R"({"name": "P", "resource_id": 1, "controls": [{"name": "A"}, {"name": "A"}]})"), "P_A"},
        {"an alias that is a control's name",
         Panels(
             R"({"name": "P", "resource_id": 1, "controls": [{"name": "A", "aliases": ["B"]}, {"name": "B"}]})"),
         "P_B"},
        {"two names that meet after the panel's prefix",
         Panels(R"({"name": "P", "resource_id": 1, "controls": [{"name": "A_B"}]},
                   {"name": "P_A", "resource_id": 2, "controls": [{"name": "B"}]})"),
         "P_A_B"},
        {"a panel name twice", Panels(R"({"name": "P", "resource_id": 1}, {"name": "P", "resource_id": 2})"),
         "P"},
        {"a resource id twice", Panels(R"({"name": "P", "resource_id": 1}, {"name": "Q", "resource_id": 1})"),
         "resource id"},
        {"a resource id that is no whole number", Panels(R"({"name": "P", "resource_id": 1.5})"),
         "resource id"},
        {"no resource id", Panels(R"({"name": "P"})"), "resource id"},
        {"a panel without a name", Panels(R"({"resource_id": 1})"), "panel 1"},
        {"a control without a name",
         Panels(R"({"name": "P", "resource_id": 1, "controls": [{"kind": "numeric"}]})"),
         "control 1 of panel P"},
        {"a name that is no identifier",
         Panels(R"({"name": "P", "resource_id": 1, "controls": [{"name": "A B"}]})"), "\"A B\""},
        {"a callback that is C++ of its own",
         Panels(R"({"name": "P", "resource_id": 1, "controls": [{"name": "A", "callback": "f\"); g(\""}]})"),
         "callback"},
        {"a callback that is not a text",
         Panels(R"({"name": "P", "resource_id": 1, "controls": [{"name": "A", "callback": 7}]})"),
         "callback"},
        {"one callback for a panel and a control",
         Panels(
             R"({"name": "P", "resource_id": 1, "callback": "CB", "controls": [{"name": "A", "callback": "CB"}]})"),
         "CB"},
        {"a callback named like an id",
         Panels(R"({"name": "P", "resource_id": 1, "controls": [{"name": "A", "callback": "P_A"}]})"), "P_A"},
        {"controls that are no list", Panels(R"({"name": "P", "resource_id": 1, "controls": {"name": "A"}})"),
         "controls"},
        {"a control that is no object", Panels(R"({"name": "P", "resource_id": 1, "controls": ["A"]})"),
         "not an object"},
        {"a panel that is no object", Panels(R"("P")"), "not an object"},
        {"no panels list", R"({"panel": []})", "panels"},
        {"a list for a document", "[1, 2]", "panels"},
    };
    for (const auto &c : cases) {
        const Generated r = Generate(c.json);
        EXPECT_EQ(r.exitCode, 1) << c.what;
        EXPECT_TRUE(r.errors.contains(QString::fromLatin1(c.message)))
            << c.what << ": " << r.errors.toStdString();
        EXPECT_FALSE(r.wroteHeader) << c.what;
    }
}

TEST(Uirgen, NumbersTheControlsOfEachPanelInTheFilesOrder) {
    const Generated r = Generate(Panels(R"(
        {"name": "P", "resource_id": 3, "callback": "CC_P",
         "controls": [{"name": "A", "callback": "CC_X"}, {"name": "B", "aliases": ["OLD_B"], "callback": "CC_X"}]},
        {"name": "Q", "resource_id": 7, "controls": [{"name": "A"}]})"));
    ASSERT_EQ(r.exitCode, 0) << r.errors.toStdString();
    for (const char *line : {"#define P 3\n", "#define P_A 2\n", "#define P_B 3\n", "#define P_OLD_B P_B\n",
                             "#define Q 7\n", "#define Q_A 2\n"})
        EXPECT_TRUE(r.header.contains(QString::fromLatin1(line))) << line;
    // A callback shared by controls is declared once.
    EXPECT_EQ(r.header.count(QStringLiteral("int CC_X(")), 1);
    EXPECT_EQ(r.header.count(QStringLiteral("int CC_P(int panel, int event")), 1);
}

} // namespace
