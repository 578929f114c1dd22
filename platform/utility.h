// Utility services: time, program directory, file dialogs, array files and formatting.
#pragma once

#include <cstddef>
#include <string>

// Monotonic clock in seconds (differences measure elapsed time).
double Timer(void);
// Waits the given seconds without handling events.
void Delay(double seconds);

// The program's own directory.
int GetProjectDir(std::string *directory);

// File dialog buttons.
enum { VAL_OK_BUTTON = 0, VAL_SAVE_BUTTON = 1, VAL_SELECT_BUTTON = 2, VAL_LOAD_BUTTON = 3 };
// File dialog results: 0 cancelled, above 0 a file was chosen, negative on failure.
enum { VAL_NO_FILE_SELECTED = 0, VAL_EXISTING_FILE_SELECTED = 1, VAL_NEW_FILE_SELECTED = 2 };
int FileSelectPopup(const char *defaultDirectory, const char *defaultFileName, const char *filter,
                    const char *title, int buttonLabel, int restrictDirectory,
                    int restrictExtension, int allowCancel, int allowMakeDirectory,
                    std::string *pathName);

// Array files: the one text layout of 'count' decimal fields of the given width.
enum { VAL_GROUPS_TOGETHER = 0, VAL_DATA_MULTIPLEXED = 1 };
enum { VAL_GROUPS_AS_COLUMNS = 0, VAL_GROUPS_AS_ROWS = 1 };
enum { VAL_SEP_BY_COMMA = 0, VAL_SEP_BY_TAB = 1 };
enum { VAL_ASCII = 0, VAL_BINARY = 1 };
enum { VAL_TRUNCATE = 0, VAL_APPEND = 1 };
// Results: 0 success, negative failure.
enum { UTIL_FileIOError = -12, UTIL_BadFileFormat = -43, UTIL_BadArgument = -14 };
int ArrayToFile(const char *fileName, const void *array, int dataType, int numberOfElements,
                int numberOfGroups, int arrayDataOrder, int fileLayout, int columnSeparation,
                int fieldWidth, int fileType, int fileAction);
int FileToArray(const char *fileName, void *array, int dataType, int numberOfElements,
                int numberOfGroups, int arrayDataOrder, int fileLayout, int fileType);
// Puts 'size' bytes into the file, replacing an old one only once they are on the disk whole:
// 0, or UTIL_FileIOError (the old file then stays as it was). A name whose bytes are not text in
// the system's encoding is an error, never a file of another name.
int WriteWholeFile(const char *fileName, const char *data, long long size);

// Formatting: only what the firmware read needs. "%72c<%36i" turns 36 words (one character
// each, in its low byte) into text; the result always ends with a zero inside 'destSize'.
int Fmt(char *dest, size_t destSize, const char *format, const int *values, int count);
