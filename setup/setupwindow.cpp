// The parameter sets in the window: verified SEND, unsent edits, Compare and Report.
#include "setupwindow.h"

#include <QDialog>
#include <QHeaderView>
#include <QLabel>
#include <QPointer>
#include <QTableWidget>
#include <QVBoxLayout>

#include <cstring>

#include "K-VOR-RNZazorU30.h"
#include "com232.h"
#include "linkreport.h"
#include "measure.h"
#include "params.h"
#include "report.h"
#include "sensorsets.h"
#include "state.h"
#include "userint.h"
#include "utility.h"

namespace {

SetWords g_baseline;
bool g_haveBaseline = false;
int g_unsent = 0;

std::vector<CompareRow> g_rows;
std::string g_title;
QPointer<QDialog> g_window;

const char *MemoryName(int memory) {
    switch (memory) {
    case RAM:
        return "RAM";
    case EEPROM:
        return "EEPROM";
    default:
        return "File";
    }
}

bool IsParameterPanel(int panel) {
    return panel > 0 && (panel == pHandle || panel == pPara1 || panel == pPara2 || panel == pCalib);
}

void OnControlChanged(int panel, int control) {
    (void)control;
    if (IsParameterPanel(panel)) RefreshUnsentMarks();
}

// --- compare --------------------------------------------------------------------------------

void ShowCompareWindow(void) {
    if (!g_window) {
        g_window = new QDialog();
        g_window->setAttribute(Qt::WA_DeleteOnClose, false);
        auto *layout = new QVBoxLayout(g_window);
        auto *caption = new QLabel(g_window);
        caption->setObjectName(QStringLiteral("caption"));
        auto *table = new QTableWidget(g_window);
        table->setObjectName(QStringLiteral("table"));
        table->setColumnCount(3);
        table->setEditTriggers(QAbstractItemView::NoEditTriggers);
        table->verticalHeader()->setVisible(false);
        table->horizontalHeader()->setStretchLastSection(true);
        layout->addWidget(caption);
        layout->addWidget(table);
        g_window->resize(560, 420);
    }
    g_window->setWindowTitle(QString::fromStdString(g_title));
    auto *caption = g_window->findChild<QLabel *>(QStringLiteral("caption"));
    auto *table = g_window->findChild<QTableWidget *>(QStringLiteral("table"));
    caption->setText(g_rows.empty() ? QStringLiteral("No differences.")
                                    : QStringLiteral("%1 values differ.").arg(g_rows.size()));
    const QString other = QString::fromStdString(g_title.substr(g_title.rfind(' ') + 1));
    table->setHorizontalHeaderLabels({QStringLiteral("Parameter"), QStringLiteral("Panel"), other});
    table->setRowCount(static_cast<int>(g_rows.size()));
    for (int r = 0; r < static_cast<int>(g_rows.size()); ++r) {
        const CompareRow &row = g_rows[static_cast<size_t>(r)];
        table->setItem(r, 0, new QTableWidgetItem(QString::fromStdString(row.name)));
        table->setItem(r, 1, new QTableWidgetItem(QString::fromStdString(row.panel)));
        table->setItem(r, 2, new QTableWidgetItem(QString::fromStdString(row.other)));
    }
    table->resizeColumnsToContents();
    g_window->show();
    g_window->raise();
}

void ShowComparison(const SetWords &other, const char *otherName) {
    const SetWords panels = PanelWords();
    g_rows.clear();
    for (const ValueDifference &d : DifferingValues(panels, other))
        g_rows.push_back({d.name, d.a, d.b});
    g_title = std::string("Compare: panels and ") + otherName;
    ShowCompareWindow();
    const std::string text = g_rows.empty() ? std::string("No differences between the panels and ") + otherName
                                            : std::to_string(g_rows.size()) + " values differ between the panels and " +
                                                  otherName;
    ShowStatus(text.c_str());
}

int g_compareMemory = RAM;

void CompareWithSensor(void) {
    SetWords sensor;
    if (!ReadSensorSets(g_compareMemory, &sensor)) {
        ShowStatusBuffer(); // the time-out text
        return;
    }
    ShowComparison(sensor, MemoryName(g_compareMemory));
}

} // namespace

// --- verified SEND ------------------------------------------------------------------------------

void VerifiedSendToSensor(void) {
    const int memory = target == EEPROM ? EEPROM : RAM;
    GetPanelValues();
    const SetWords written = RecordWords(parameter);
    // A frame that did not go out whole: szStatus says which; nothing to verify.
    if (!WriteSensorSets(memory)) {
        ShowStatusBuffer();
        return;
    }
    const VerifyResult result = VerifyWrittenSets(memory, written);
    // The record and the pages keep what was written; only the baseline follows the sensor.
    if (result.ok()) {
        SetSentBaseline(written);
    } else if (result.answered) {
        SetSentBaseline(result.readBack); // what the sensor holds now, so the marks say what it lacks
    }
    ShowStatus(result.text.c_str());
}

void SendPanelsToFile(void) {
    GetPanelValues();
    if (WriteParaFile(file_name) < 0) {
        CopyText(szStatus, "Error writing parameter file!");
        ShowStatusBuffer();
        return;
    }
    SetSentBaseline(RecordWords(parameter));
}

bool LastSetReadAnswered(void) { return std::strcmp(szStatus, "Parameter-frame received! - Line Ok!") == 0; }

void SetsReadOntoPanels(bool answered) {
    // A GET that was not answered leaves the marks to say what the sensor may lack.
    if (answered) BaselineFromRecord();
}

// --- unsent edits -------------------------------------------------------------------------------

void StartUnsentMarks(void) {
    SetCtrlChangeObserver(OnControlChanged);
    BaselineFromRecord();
}

void SetSentBaseline(const SetWords &words) {
    g_baseline = words;
    g_haveBaseline = true;
    RefreshUnsentMarks();
}

void BaselineFromRecord(void) { SetSentBaseline(RecordWords(parameter)); }

SetWords PanelWords(void) {
    const ParameterRecord saved = parameter;
    uint16_t threshold[256];
    std::memcpy(threshold, thdArray, sizeof threshold);
    GetPanelValues();
    const SetWords words = RecordWords(parameter);
    parameter = saved;
    std::memcpy(thdArray, threshold, sizeof threshold);
    return words;
}

void RefreshUnsentMarks(void) {
    if (pHandle <= 0 || !g_haveBaseline) return;
    const SetWords panels = PanelWords();
    int count = 0;
    const std::vector<ValueDifference> diffs = DifferingValues(panels, g_baseline);
    for (const ValueDesc &d : ParameterValues()) {
        if (!d.panel || *d.panel <= 0) continue;
        bool differs = false;
        for (const ValueDifference &diff : diffs)
            differs = differs || diff.desc == &d;
        if (differs) ++count;
        SetCtrlAttribute(*d.panel, d.control, ATTR_MARKED, differs ? 1 : 0);
    }
    g_unsent = count;
    const std::string text =
        count == 0 ? std::string() : std::to_string(count) + (count == 1 ? " change not sent" : " changes not sent");
    SetCtrlVal(pHandle, PANEL_TXTUnsent, text.c_str());
    SetCtrlAttribute(pHandle, PANEL_TXTUnsent, ATTR_TEXT_COLOR, 0xB05000);
}

int UnsentCount(void) { return g_unsent; }

std::vector<CompareRow> LastCompareRows(void) { return g_rows; }
std::string LastCompareTitle(void) { return g_title; }
void *CompareWindowWidget(void) { return g_window.data(); }

// --- the buttons --------------------------------------------------------------------------------

int CC_BTNCompare(int, int, int event, void *, int, int) {
    if (event != EVENT_COMMIT) return 0;
    if (target == DATFILE) {
        std::string chosen;
        if (FileSelectPopup(proj_dir.c_str(), "KVORpara.cfg", "*.cfg", "Compare with Parameter File", VAL_LOAD_BUTTON,
                            0, 1, 1, 0, &chosen) <= 0)
            return 0;
        const ParameterRecord saved = parameter;
        const int read = ReadParaFile(chosen);
        const SetWords file = RecordWords(parameter);
        parameter = saved;
        if (read < 0) {
            ShowStatus("Error reading parameter file!");
            return 0;
        }
        ShowComparison(file, "File");
        return 0;
    }
    g_compareMemory = target == EEPROM ? EEPROM : RAM;
    ShowStatus("Compare ...");
    RunWhenLineIsFree(CompareWithSensor);
    return 0;
}

int CC_BTNReport(int, int, int event, void *, int, int) {
    if (event != EVENT_COMMIT) return 0;
    std::string chosen;
    if (FileSelectPopup(proj_dir.c_str(), "KVORsetup.pdf", "*.pdf", "Set-up Sheet", VAL_SAVE_BUTTON, 0, 1, 1, 1,
                        &chosen) <= 0)
        return 0;
    std::string source = "the panels";
    if (g_unsent > 0) source += " (" + std::to_string(g_unsent) + (g_unsent == 1 ? " change" : " changes") + " not sent)";
    const SetupSheet sheet = CurrentSetupSheet(PanelWords(), source);
    const std::string text =
        WriteSetupSheet(chosen, sheet) == 0 ? "Set-up sheet written: " + chosen : "Cannot write " + chosen;
    ShowStatus(text.c_str());
    return 0;
}
