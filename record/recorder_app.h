// The recorder in the program: one recorder, its window inside the POPUP panel, and the
// recording the command line asks for.
#pragma once

#include <string>

class Recorder;
class RecorderWindow;

// Builds the recorder window's contents inside the panel (the recorder window).
bool SetUpRecorder(int popupPanel);
// Checks that 'path' can be recorded into (writable; empty, new, or a recording of ours).
bool CheckRecordFile(const std::string &path, std::string *error);
// Starts recording into 'path' now; every RUN from then on adds its rows.
bool StartRecordingInto(const std::string &path, std::string *error);
// Stops any recording (its rows flushed) and removes the window's contents. False, with the
// text in 'failure', when the last rows could not be written: the window is going, so the caller
// says it elsewhere.
bool ShutDownRecorder(std::string *failure = nullptr);

Recorder &TheRecorder(void);
RecorderWindow *TheRecorderWindow(void); // nullptr before SetUpRecorder
