// Settings services: a few named values kept between runs in the user's settings file.
//
// The file is <config>/kvor-zodid/kvor-zodid.conf, where <config> is $XDG_CONFIG_HOME, or
// ~/.config when that is not set (on Linux). The location is looked up on every call, so a
// program (or a test) that points HOME or XDG_CONFIG_HOME elsewhere uses the file there.
// Keys are "group/name" texts, e.g. "port/number".
#pragma once

#include <string>

// Switches the settings off (0) or on (1, the default). While off, every read returns its
// fallback and every write is dropped: the program neither reads nor changes the file.
void SettingsEnable(int on);
int SettingsEnabled(void);

// The settings file's full path (whether it exists or not).
std::string SettingsFilePath(void);

std::string SettingsGetString(const char *key, const std::string &fallback);
int SettingsGetInt(const char *key, int fallback);
// 0 when the value is stored in the file, negative when it could not be written (or the
// settings are switched off).
int SettingsSetString(const char *key, const std::string &value);
int SettingsSetInt(const char *key, int value);
