// The parameter file when the file system fails: a directory that cannot be written, a full
// disk, a file-size limit, a save that is killed half-way, and a file that was cut short. The
// file that was there before stays as it was, and the status line says when a save failed.
//
// We run as root in CI, where permission bits do not stop a write. A read-only mount does, so
// the tests make one where the system lets them (bind mounts and a small tmpfs), and otherwise
// fall back to what the system offers, saying so when nothing is left.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <functional>
#include <cstring>
#include <string>
#include <vector>

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include "K-VOR-RNZazorU30.h"
#include "file_limits.h"
#include "fixtures.h"
#include "testhooks.h"
#include "params.h"
#include "state.h"
#include "userint.h"
#include "utility.h"

namespace {

const char *const kFailedSave = "Error writing parameter file!";

QByteArray ReadAll(const QString &path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return QByteArray("<missing>");
    return f.readAll();
}

// The files in a directory, by name.
QStringList Entries(const QString &dir) {
    return QDir(dir).entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
}

// Undoes a mount, or an immutable flag, when the test ends.
class Undo {
public:
    Undo() = default;
    explicit Undo(std::function<void()> f) : f_(std::move(f)) {}
    Undo(Undo &&o) noexcept : f_(std::move(o.f_)) { o.f_ = nullptr; }
    Undo &operator=(Undo &&o) noexcept {
        Run();
        f_ = std::move(o.f_);
        o.f_ = nullptr;
        return *this;
    }
    ~Undo() { Run(); }
    void Run() {
        if (f_) f_();
        f_ = nullptr;
    }

private:
    std::function<void()> f_;
};

// Makes 'dir' unwritable: a read-only bind mount of it on itself, else the immutable flag, else
// (not as root) its permission bits. 'how' says which; false when nothing works here.
bool MakeUnwritable(const std::string &dir, Undo *undo, std::string *how) {
    if (::mount(dir.c_str(), dir.c_str(), nullptr, MS_BIND, nullptr) == 0) {
        if (::mount(nullptr, dir.c_str(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) == 0) {
            *how = "read-only bind mount";
            *undo = Undo([dir] { ::umount2(dir.c_str(), MNT_DETACH); });
            return true;
        }
        ::umount2(dir.c_str(), MNT_DETACH);
    }
    const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY);
    if (fd >= 0) {
        int flags = 0;
        if (::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0) {
            const int immutable = flags | FS_IMMUTABLE_FL;
            if (::ioctl(fd, FS_IOC_SETFLAGS, &immutable) == 0) {
                ::close(fd);
                *how = "immutable directory";
                *undo = Undo([dir, flags] {
                    const int f = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY);
                    if (f < 0) return;
                    int old = flags;
                    ::ioctl(f, FS_IOC_SETFLAGS, &old);
                    ::close(f);
                });
                return true;
            }
        }
        ::close(fd);
    }
    if (::geteuid() != 0 && ::chmod(dir.c_str(), 0555) == 0) {
        *how = "directory without write permission";
        *undo = Undo([dir] { ::chmod(dir.c_str(), 0755); });
        return true;
    }
    return false;
}

class ParameterFileFailure : public ProgramTest {
protected:
    void SetUp() override {
        ProgramTest::SetUp();
        if (HasFatalFailure()) return;
        ASSERT_TRUE(dir_.isValid());
        ASSERT_EQ(UserClick(pHandle, PANEL_RBTFile), 0);
        ASSERT_EQ(target, DATFILE);
    }

    std::string Dir() const { return dir_.path().toStdString(); }
    std::string PathIn(const std::string &d) const { return d + "/KVORpara.cfg"; }

    // The operator saves the panels to 'path' with the SEND button.
    void Save(const std::string &path, unsigned int setpoint) {
        SetCtrlVal(pPara2, PARA2_Setpoint, setpoint);
        PresetFileSelectAnswer(QFile::exists(QString::fromStdString(path)) ? VAL_EXISTING_FILE_SELECTED
                                                                            : VAL_NEW_FILE_SELECTED,
                               path);
        ASSERT_EQ(UserClick(pHandle, PANEL_BTNSend), 0);
    }

    // The operator loads 'path' with the GET button; the setpoint the panels then show, or 0
    // when the file did not load.
    unsigned int Load(const std::string &path) {
        SetCtrlVal(pPara2, PARA2_Setpoint, 1u);
        PresetFileSelectAnswer(VAL_EXISTING_FILE_SELECTED, path);
        UserClick(pHandle, PANEL_BTNGet);
        if (StatusText() != "Parameter file read") return 0;
        unsigned short setpoint = 0;
        GetCtrlVal(pPara2, PARA2_Setpoint, &setpoint);
        return setpoint;
    }

    // A save that must fail: the old file stays byte for byte, no stray file is left beside it,
    // the status line says so, and the panels load the old set back.
    void ExpectFailedSaveKeeps(const std::string &d, const QByteArray &old) {
        const QString path = QString::fromStdString(PathIn(d));
        Save(PathIn(d), 900);
        EXPECT_EQ(StatusText(), kFailedSave);
        EXPECT_EQ(ReadAll(path), old);
        EXPECT_EQ(Entries(QString::fromStdString(d)), QStringList{"KVORpara.cfg"});
        EXPECT_EQ(Load(PathIn(d)), 700u) << "the previous set does not load back";
    }

    QTemporaryDir dir_;
};

} // namespace

TEST_F(ParameterFileFailure, SaveIntoADirectoryThatCannotBeWritten) {
    const std::string d = Dir();
    Save(PathIn(d), 700);
    ASSERT_EQ(StatusText(), "Transmit...") << "the first save failed";
    const QByteArray old = ReadAll(QString::fromStdString(PathIn(d)));
    ASSERT_FALSE(old.isEmpty());

    Undo undo;
    std::string how;
    if (!MakeUnwritable(d, &undo, &how))
        GTEST_SKIP() << "this system offers no way to make a directory unwritable for root "
                        "(no mount, no immutable flag)";
    std::printf("unwritable by: %s\n", how.c_str());
    ExpectFailedSaveKeeps(d, old);

    // Writable again, the same save goes through and replaces the file.
    undo.Run();
    Save(PathIn(d), 900);
    EXPECT_EQ(StatusText(), "Transmit...");
    EXPECT_NE(ReadAll(QString::fromStdString(PathIn(d))), old);
    EXPECT_EQ(Load(PathIn(d)), 900u);
}

TEST_F(ParameterFileFailure, SaveOntoAFullDisk) {
    // A tmpfs of four pages: the old file, then a filler up to the last byte.
    const std::string d = Dir() + "/small";
    ASSERT_EQ(::mkdir(d.c_str(), 0755), 0);
    if (::mount("kvor-full", d.c_str(), "tmpfs", 0, "size=16k,mode=0755") != 0)
        GTEST_SKIP() << "cannot mount a small tmpfs here (" << std::strerror(errno)
                     << "); the file-size limit test covers a write that runs out of room";
    Undo undo([d] { ::umount2(d.c_str(), MNT_DETACH); });
    std::printf("full disk: a 16 KiB tmpfs\n");

    Save(PathIn(d), 700);
    ASSERT_EQ(StatusText(), "Transmit...");
    const QByteArray old = ReadAll(QString::fromStdString(PathIn(d)));
    {
        const int fd = ::open((d + "/filler").c_str(), O_WRONLY | O_CREAT, 0644);
        ASSERT_GE(fd, 0);
        const std::vector<char> block(512, 'x');
        while (::write(fd, block.data(), block.size()) > 0) {
        }
        while (::write(fd, block.data(), 1) > 0) {
        }
        EXPECT_EQ(errno, ENOSPC);
        ::close(fd);
    }
    // The filler is not the program's: only it may be beside the parameter file.
    Save(PathIn(d), 900);
    EXPECT_EQ(StatusText(), kFailedSave);
    EXPECT_EQ(ReadAll(QString::fromStdString(PathIn(d))), old);
    EXPECT_EQ(Entries(QString::fromStdString(d)), (QStringList{"KVORpara.cfg", "filler"}));
    EXPECT_EQ(Load(PathIn(d)), 700u);

    // With room again, the save goes through.
    ASSERT_EQ(::unlink((d + "/filler").c_str()), 0);
    Save(PathIn(d), 900);
    EXPECT_EQ(StatusText(), "Transmit...");
    EXPECT_EQ(Load(PathIn(d)), 900u);
}

TEST_F(ParameterFileFailure, SaveBeyondTheFileSizeLimit) {
    const std::string d = Dir();
    Save(PathIn(d), 700);
    ASSERT_EQ(StatusText(), "Transmit...");
    const QByteArray old = ReadAll(QString::fromStdString(PathIn(d)));

    // Every write beyond 100 bytes fails, as on a disk that filled up under the save.
    {
        const FileSizeLimit limit(100);
        ASSERT_TRUE(limit.Set());
        Save(PathIn(d), 900);
    }

    EXPECT_EQ(StatusText(), kFailedSave);
    EXPECT_EQ(ReadAll(QString::fromStdString(PathIn(d))), old);
    EXPECT_EQ(Entries(QString::fromStdString(d)), QStringList{"KVORpara.cfg"});
    EXPECT_EQ(Load(PathIn(d)), 700u);
}

TEST_F(ParameterFileFailure, SaveKilledHalfWay) {
    const std::string d = Dir();
    Save(PathIn(d), 700);
    ASSERT_EQ(StatusText(), "Transmit...");
    const QString path = QString::fromStdString(PathIn(d));
    const QByteArray old = ReadAll(path);
    ASSERT_GT(old.size(), 100);

    // The save runs in a copy of this process that the system kills when its file reaches the
    // limit: before the first byte, in the middle of the values, just before the end.
    for (const rlim_t limit : {rlim_t(0), rlim_t(old.size() / 2), rlim_t(old.size() - 1)}) {
        SCOPED_TRACE(limit);
        SetCtrlVal(pPara2, PARA2_Setpoint, 900u);
        PresetFileSelectAnswer(VAL_EXISTING_FILE_SELECTED, PathIn(d));
        std::fflush(nullptr);
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            ::signal(SIGXFSZ, SIG_DFL);
            rlimit r{};
            ::getrlimit(RLIMIT_FSIZE, &r);
            r.rlim_cur = limit;
            ::setrlimit(RLIMIT_FSIZE, &r);
            UserClick(pHandle, PANEL_BTNSend);
            ::_exit(0); // not killed: the save did not write past the limit
        }
        int status = 0;
        pid_t done = 0;
        for (int waited = 0; waited < 3000 && (done = ::waitpid(child, &status, WNOHANG)) == 0; ++waited)
            ::usleep(10000);
        if (done == 0) {
            ::kill(child, SIGKILL);
            ::waitpid(child, &status, 0);
            FAIL() << "the save in the child never ended";
        }
        ASSERT_TRUE(WIFSIGNALED(status)) << "the save was not cut off (exit " << WEXITSTATUS(status) << ")";
        EXPECT_EQ(WTERMSIG(status), SIGXFSZ);
        // Killed half-way: the old file is whole, and it still loads.
        EXPECT_EQ(ReadAll(path), old);
        EXPECT_EQ(Load(PathIn(d)), 700u);
    }
    ClearFileSelectAnswers();

    // The next save replaces the file whole; whatever the killed saves left beside it is theirs.
    Save(PathIn(d), 900);
    EXPECT_EQ(StatusText(), "Transmit...");
    EXPECT_EQ(Load(PathIn(d)), 900u);
}

TEST_F(ParameterFileFailure, FileCutShortDoesNotLoad) {
    const std::string d = Dir();
    Save(PathIn(d), 700);
    const QString path = QString::fromStdString(PathIn(d));
    const QByteArray whole = ReadAll(path);
    // The last value starts after the 29th line; a cut inside it leaves 30 numbers, the last one
    // shorter: the layout has no end mark to tell. Every cut before it must fail.
    const int lastField = whole.lastIndexOf('\n', whole.size() - 2) + 1;
    ASSERT_GT(lastField, 0);
    parameter.set0[6] = 4321;
    const uint16_t before = parameter.set0[6];
    for (int cut = 0; cut < lastField; ++cut) {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(whole.left(cut));
        f.close();
        SetCtrlVal(pHandle, PANEL_STATUS, "");
        PresetFileSelectAnswer(VAL_EXISTING_FILE_SELECTED, PathIn(d));
        ReadParaFromFile();
        ASSERT_EQ(StatusText(), "Error reading parameter file!") << "cut at " << cut;
        ASSERT_EQ(parameter.set0[6], before) << "cut at " << cut;
    }
}
