// The parameter sets in the window: the verified SEND, the unsent edits marked on the pages with
// a counter beside SEND, the Compare table and the Report command.
#pragma once

#include <string>
#include <vector>

#include "setwords.h"

// SEND to RAM or EEPROM (the memory target): both sets from the pages are written, read back from
// the same memory into a buffer and compared word for word. The pages and the record keep what
// was written whatever comes back.
void VerifiedSendToSensor(void);
// SEND to a parameter file (file_name): the pages' values; the marks clear once it is written.
void SendPanelsToFile(void);
// After a GET: the sets that were read (or the file) are what the pages are measured against.
// 'answered' tells whether every read over the line was answered.
void SetsReadOntoPanels(bool answered);
// Whether the last set read over the line was answered (as szStatus says after the read).
bool LastSetReadAnswered(void);

// --- unsent edits ---------------------------------------------------------------------------
// Takes the record as the sensor's values and follows every edit on the pages from now on.
void StartUnsentMarks(void);
// What the pages are compared with: the values last read from or written to the sensor or a file.
void SetSentBaseline(const SetWords &words);
void BaselineFromRecord(void);
// Marks the controls whose value differs from the baseline and shows the counter beside SEND.
void RefreshUnsentMarks(void);
// How many values on the pages differ from the baseline (as the counter says).
int UnsentCount(void);
// The words the pages hold now (the record is left as it was).
SetWords PanelWords(void);

// --- compare ------------------------------------------------------------------------------------
struct CompareRow {
    std::string name, panel, other;
};
// The rows and the title of the table the last Compare showed.
std::vector<CompareRow> LastCompareRows(void);
std::string LastCompareTitle(void);
// The table's window (a QWidget*), nullptr before the first Compare.
void *CompareWindowWidget(void);
