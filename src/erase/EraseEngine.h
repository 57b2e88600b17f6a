#pragma once

#include "device/PhysicalDrive.h"
#include "erase/EraseHost.h"

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kelvane {

// What the user chose when the job started; a job works on this copy only, so clicks on the pages
// while it runs change nothing in it.
struct JobRequest {
    JobKind kind = JobKind::WholeDisk;
    int disk = -1;                  // drive number
    std::vector<int> partitions;    // free space: the checked numbers in order; partition job: one number
    std::vector<std::string> files; // shred: the list's paths, top row first
};

// m_nStopFlag values.
inline constexpr int kStopNone = 0;
inline constexpr int kStopRequested = 1;
inline constexpr int kStopWriteFailed = 2;
inline constexpr int kStopUnsupported = -1;

// How a job ended, for hosts that report it after the reset has cleared the stop flag.
enum class JobOutcome { Completed, Stopped, Failed, Declined };

// The job frame: one job at a time, run on the caller's (worker) thread, reporting through the host.
class CEraseEngine {
  public:
    explicit CEraseEngine(IEraseHost& host);

    // Marks the engine running before the worker starts, so an at-once ending can never be undone by
    // a late "running". False when a job is running already.
    bool BeginJob();
    // Undoes BeginJob when the worker that was to call Run could not be started.
    void AbandonJob() { m_bRunning.store(0); }
    // Runs the job to its end and clears the running state. Call after BeginJob, on the worker.
    JobOutcome Run(const JobRequest& request);
    // A confirmed stop. Ignored when no job runs, so a late Yes never stops the next job. Safe from a
    // signal handler.
    void RequestStop();

    bool IsRunning() const { return m_bRunning.load() != 0; }
    int StopFlag() const { return m_nStopFlag.load(); }

    // The job routines, each run to its final text. They leave the running state to Run.
    JobOutcome EraseWholeDisk(int disk);
    JobOutcome EraseFreeSpace(int disk, int partition);
    JobOutcome ShredFiles(const std::vector<std::string>& files);
    // Formats the partition through the host's format dialog, then erases its free clusters.
    JobOutcome ErasePartition(int disk, int partition);

  private:
    struct Volume {
        std::uint64_t start = 0;
        std::uint64_t sectors = 0;
        std::string title;
    };
    void RunFatBranch(const Volume& volume);
    void RunNtfsBranch(const Volume& volume, const PartitionInfo& partition);
    // The drive is the one listed and nothing of the system uses [start, start + sectors); otherwise
    // the user is told why and false comes back. Only writable users count when `writableOnly`.
    bool TargetIsFree(std::uint64_t startSector, std::uint64_t sectorCount, bool writableOnly);
    // Flushes the device: a failed flush is a failed job.
    void FlushDrive();
    JobOutcome OutcomeOfStopFlag() const;
    // Runs the format the user chose; Completed, or Declined / Failed with the result's text on the
    // status line.
    JobOutcome FormatVolume(const PartitionInfo& partition, const std::string& name);
    // Zeroes the sectors of a freshly formatted partition that lie after its last cluster.
    bool ZeroVolumeTail(const PartitionInfo& formatted);
    // Gives the partition's table entry the type byte of the file system just made on it.
    bool SetPartitionType(const PartitionInfo& partition, FileSystemKind kind);
    void Progress(std::uint64_t done, std::uint64_t step);
    // Shows title + "(done/total) 簇", built in one reused buffer: it runs once per cluster.
    void ClusterStatus(const std::string& title, std::uint64_t done, std::uint64_t total);

    IEraseHost& m_host;
    CPhysicalDrive m_drive;
    std::atomic<int> m_bRunning{0};
    std::atomic<int> m_nStopFlag{0};
    std::string m_statusBuffer;
};

} // namespace kelvane
