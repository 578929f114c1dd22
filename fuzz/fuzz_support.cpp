#include "fuzz_support.h"

#include <cstdio>
#include <cstdlib>
#include <set>
#include <sys/stat.h>
#include <unistd.h>

#include "K-VOR-RNZazorU30.h"
#include "state.h"
#include "userint.h"
#include "utility.h"

namespace kvorfuzz {

void StartRuntime(int *argc, char ***argv) {
    static bool started = false;
    if (started) return;
    started = true;
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    if (!getenv("XDG_RUNTIME_DIR")) {
        static char dir[64];
        std::snprintf(dir, sizeof dir, "/tmp/kvor-fuzz-xdg-%d", static_cast<int>(getuid()));
        mkdir(dir, 0700);
        setenv("XDG_RUNTIME_DIR", dir, 1);
    }
    if (InitRunTime(argc ? *argc : 0, argv ? *argv : nullptr) == 0) Broken("the run-time does not start");
    RegisterCallbacks(kPanelFileCallbacks, kPanelFileCallbackCount);
}

void LoadProgramPanels() {
    if (LoadAllPanels("K-VOR-RNZazorU30.uir") != 0) Broken("the panel file does not load");
    GetProjectDir(&proj_dir);
    InitVars();
}

namespace {

std::string g_scratchDir;
std::set<std::string> g_scratchFiles;

// The scratch files go with the process.
void RemoveScratchFiles() {
    for (const std::string &path : g_scratchFiles) unlink(path.c_str());
    if (!g_scratchDir.empty()) rmdir(g_scratchDir.c_str());
}

} // namespace

std::string WriteScratchFile(const char *name, const uint8_t *data, size_t size) {
    if (g_scratchDir.empty()) {
        const char *base = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
        g_scratchDir = std::string(base) + "/kvor-fuzz-" + std::to_string(getpid());
        mkdir(g_scratchDir.c_str(), 0700);
        std::atexit(RemoveScratchFiles);
    }
    const std::string path = g_scratchDir + "/" + name;
    g_scratchFiles.insert(path);
    FILE *f = std::fopen(path.c_str(), "wb");
    if (!f) Broken("cannot write a scratch file");
    if (size > 0 && std::fwrite(data, 1, size, f) != size) Broken("cannot write a scratch file");
    std::fclose(f);
    return path;
}

void Broken(const char *what) {
    std::fprintf(stderr, "kvor-fuzz: property broken: %s\n", what);
    std::fflush(stderr);
    std::abort();
}

} // namespace kvorfuzz
