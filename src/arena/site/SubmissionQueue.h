#pragma once
// The builds of uploaded bots, one at a time, on a thread of their own.

#include "SubmissionBuild.h"
#include "TeamStore.h"

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

/// Builds submissions in the order they arrive and records each result in the store. Builds
/// left unfinished by an earlier run of the server are taken up again when it starts; a result
/// the database refuses (a full disk) is recorded as soon as it accepts it, so that no
/// submission stays "building".
class SubmissionQueue {
public:
    /// Called after each successful build, on the queue's thread.
    using OnBuilt = std::function<void(const SubmissionRow&)>;

    SubmissionQueue(TeamStore& store, const SubmissionBuild& build, OnBuilt onBuilt);
    /// Waits for the build under way, then stops.
    ~SubmissionQueue();
    SubmissionQueue(const SubmissionQueue&) = delete;
    SubmissionQueue& operator=(const SubmissionQueue&) = delete;

    /// Starts the thread, first queueing the store's unfinished builds.
    void start();
    void add(int64_t submissionId);

private:
    void work();
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
    std::thread m_thread;
};
