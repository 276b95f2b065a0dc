#include "SubmissionQueue.h"

#include "Arena.h"

SubmissionQueue::SubmissionQueue(TeamStore& store, const SubmissionBuild& build, OnBuilt onBuilt)
    : m_store(store), m_build(build), m_onBuilt(std::move(onBuilt)) {}

SubmissionQueue::~SubmissionQueue() {
    {
        std::lock_guard<std::mutex> hold(m_lock);
        m_stopping = true;
    }
    m_wake.notify_all();
    if (m_thread.joinable()) {
        m_thread.join();
    }
}

void SubmissionQueue::start() {
    std::vector<SubmissionRow> unfinished = m_store.unfinishedBuilds();
    // The store lists newest first; builds run oldest first.
    for (auto row = unfinished.rbegin(); row != unfinished.rend(); ++row) {
        m_waiting.push_back(row->id);
    }
    m_thread = std::thread([this] { work(); });
}

void SubmissionQueue::add(int64_t submissionId) {
    {
        std::lock_guard<std::mutex> hold(m_lock);
        m_waiting.push_back(submissionId);
    }
    m_wake.notify_one();
}

void SubmissionQueue::work() {
    for (;;) {
        int64_t id = 0;
        {
            std::unique_lock<std::mutex> hold(m_lock);
            m_wake.wait(hold, [this] { return m_stopping || !m_waiting.empty(); });
            if (m_stopping) {
                return;
            }
            id = m_waiting.front();
            m_waiting.pop_front();
        }
        const std::optional<SubmissionRow> row = m_store.submission(id);
        if (!row || row->state != "building") {
            continue;
        }
        std::string log;
        const bool built = m_build.run(row->folder, log);
        m_store.finishBuild(id, built, log);
        LOG(Arena::logger(), lumber::INFO) << "Submission " << id << " of team " << row->team
                                           << (built ? " built" : " failed to build");
        if (built && m_onBuilt) {
            m_onBuilt(*m_store.submission(id));
        }
    }
}
