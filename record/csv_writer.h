// The recording's file and the thread that writes it. The user-interface thread only hands whole
// rows over; the writer thread does every write(), one write() per row, and every row reaches
// the kernel within a tenth of a second, so a killed program loses at most the rows of that last
// tenth and never leaves half a row behind.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

class CsvWriter {
  public:
    CsvWriter() = default;
    ~CsvWriter();
    CsvWriter(const CsvWriter &) = delete;
    CsvWriter &operator=(const CsvWriter &) = delete;

    // Opens 'path' for appending, making its folder when missing. An empty file gets
    // 'commentLines' and the header row; a file with our header row gets rows only; any other
    // file is refused. False with a text for the operator.
    bool Open(const std::string &path, const std::string &commentLines, std::string *error);
    // Checks that 'path' could be recorded into, without writing to it.
    static bool Check(const std::string &path, std::string *error);

    // Hands one whole row (with its '\n') to the writer thread. Cheap: no system call.
    void Push(const char *row, size_t length);
    // Writes what is still queued, hands it to the disk and closes the file. When either fails,
    // Failed() says so afterwards, with its text.
    void Close();

    bool IsOpen() const { return fd_ >= 0; }
    // Set once a write failed; the rows from then on are dropped, the file keeps whole rows.
    bool Failed() const { return failed_.load(std::memory_order_acquire); }
    std::string Error() const;
    uint64_t RowsWritten() const { return rowsWritten_.load(std::memory_order_relaxed); }
    const std::string &Path() const { return path_; }

    // Rows waiting for the writer beyond this many bytes mean the disk does not keep up.
    static constexpr size_t kMaxQueued = 32u << 20;

  private:
    void Run();
    bool WriteWhole(const char *data, size_t length); // writer thread only
    void Fail(const std::string &text);

    std::string path_;
    int fd_ = -1;
    int64_t size_ = 0; // bytes of whole rows in the file (writer thread only)
    std::thread thread_;
    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::string queued_; // whole rows, guarded by mutex_
    bool stopping_ = false;
    std::atomic<bool> failed_{false};
    std::atomic<uint64_t> rowsWritten_{0};
    std::string error_; // guarded by mutex_
};
