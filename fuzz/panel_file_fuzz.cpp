// The panel-file loader: any bytes as the panel file. Each panel that loads is a panel the
// program can use and discard; everything else is refused with an error code, never a crash.
#include <cstdint>
#include <string>

#include "fuzz_support.h"
#include "testhooks.h"
#include "userint.h"

using kvorfuzz::Check;

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv) {
    kvorfuzz::StartRuntime(argc, argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const std::string path = kvorfuzz::WriteScratchFile("panels.uir", data, size);
    // The five panels as the program loads them: two windows, three pages inside the first.
    int handles[5] = {0, 0, 0, 0, 0};
    handles[0] = LoadPanel(0, path.c_str(), 2);
    handles[1] = LoadPanel(0, path.c_str(), 5);
    const int parent = handles[0] > 0 ? handles[0] : 0;
    handles[2] = LoadPanel(parent, path.c_str(), 3);
    handles[3] = LoadPanel(parent, path.c_str(), 4);
    handles[4] = LoadPanel(parent, path.c_str(), 1);
    for (int h : handles) {
        Check(h > 0 || (h >= UIENotInitialised && h <= UIEPanelFileNotFound), "a failed load gives an error code");
        if (h <= 0) continue;
        // A loaded panel works: shown, attributes read, hidden.
        Check(DisplayPanel(h) == 0, "a loaded panel can be shown");
        int left = 0;
        Check(GetPanelAttribute(h, ATTR_LEFT, &left) == 0, "a loaded panel has a position");
        HidePanel(h);
    }
    ProcessSystemEvents();
    // Pages first, then the windows, as the program discards them.
    for (int i : {2, 3, 4, 1, 0})
        if (handles[i] > 0) Check(DiscardPanel(handles[i]) == 0, "a loaded panel can be discarded");
    return 0;
}
