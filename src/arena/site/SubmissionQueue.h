#pragma once
// The builds of uploaded bots, one at a time, on a thread of their own.

#include "SubmissionBuild.h"
#include "TeamStore.h"

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

/// Builds submissions in the order they arrive and records each result in the store. Builds
/// left unfinished by an earlier run of the server are taken up again when it starts; a result
/// the database refuses (a full disk) is recorded as soon as it accepts it, so that no
/// submission stays "building". While a build runs, what it has printed so far can be read.
class SubmissionQueue {
public:
    /// Called after each successful build, on the queue's thread.
    using OnBuilt = std::function<void(const SubmissionRow&)>;

    SubmissionQueue(TeamStore& store, const SubmissionBuild& build, OnBuilt onBuilt);
    /// Stops the build under way (it stays unfinished and runs again at the next start) and
    /// the thread.
    ~SubmissionQueue();
    SubmissionQueue(const SubmissionQueue&) = delete;
    SubmissionQueue& operator=(const SubmissionQueue&) = delete;

    /// Starts the thread, first queueing the store's unfinished builds.
    void start();
    void add(int64_t submissionId);
    /// The log of submission `submissionId` as it stands while it builds (bounded as the
    /// finished log is); nothing when it is not the build under way.
    std::optional<std::string> liveLog(int64_t submissionId) const;

private:
    void work();
    /// Runs one build, its log kept live meanwhile.
    bool build(int64_t id, const std::string& folder, std::string& log);
    void endLive();
    /// Records a build's end, trying again while the database refuses; false when the queue
    /// stopped first.
    bool record(int64_t id, bool built, std::string log);

    TeamStore& m_store;
    SubmissionBuild m_build;
    OnBuilt m_onBuilt;
    std::mutex m_lock;
    std::condition_variable m_wake;
    std::deque<int64_t> m_waiting;
    bool m_stopping = false;
    /// Set with m_stopping, for the build under way to see.
    std::atomic<bool> m_cancel{false};
    std::thread m_thread;

    /// The build under way (0: none) and its log so far, apart from m_lock, which a build's
    /// end holds while it waits for the database.
    mutable std::mutex m_liveLock;
    int64_t m_liveId = 0;
    std::string m_liveLog;
};
