#pragma once

#include "device/PhysicalDrive.h"
#include "erase/EraseHost.h"

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

namespace kelvane {

// What the user chose when the job started; a job works on this copy only, so clicks on the pages
// while it runs change nothing in it.
struct JobRequest {
    JobKind kind = JobKind::WholeDisk;
    int disk = -1;               // drive number
    std::vector<int> partitions; // free space: the checked numbers in order; partition job: one number
    std::vector<std::string> files; // shred: the list's paths, top row first
};

// m_nStopFlag values.
inline constexpr int kStopNone = 0;
inline constexpr int kStopRequested = 1;
inline constexpr int kStopWriteFailed = 2;
inline constexpr int kStopUnsupported = -1;

// The job frame: one job at a time, run on the caller's (worker) thread, reporting through the host.
class CEraseEngine {
public:
    explicit CEraseEngine(IEraseHost& host);

    // Marks the engine running before the worker starts, so an at-once ending can never be undone by
    // a late "running". False when a job is running already.
    bool BeginJob();
    // Runs the job to its end and clears the running state. Call after BeginJob, on the worker.
    void Run(const JobRequest& request);
    // A confirmed stop. Ignored when no job runs, so a late Yes never stops the next job. Safe from a
    // signal handler.
    void RequestStop();

    bool IsRunning() const { return m_bRunning.load() != 0; }
    int StopFlag() const { return m_nStopFlag.load(); }

    // The job routines; each ends with its final text and reset.
    void EraseWholeDisk(int disk);
    void EraseFreeSpace(int disk, int partition, bool lastOfRun = true);
    void ShredFiles(const std::vector<std::string>& files);

private:
    IEraseHost& m_host;
    CPhysicalDrive m_drive;
    std::atomic<int> m_bRunning{0};
    std::atomic<int> m_nStopFlag{0};
};

} // namespace kelvane
