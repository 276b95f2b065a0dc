#include "SubmissionQueue.h"

#include "Arena.h"

namespace {

constexpr auto retrySeconds = std::chrono::seconds(2);
constexpr size_t keptLogBytes = size_t{16} << 10;

} // namespace

SubmissionQueue::SubmissionQueue(TeamStore& store, const SubmissionBuild& build, OnBuilt onBuilt)
    : m_store(store), m_build(build), m_onBuilt(std::move(onBuilt)) {}

SubmissionQueue::~SubmissionQueue() {
    {
        std::lock_guard<std::mutex> hold(m_lock);
        m_stopping = true;
    }
    m_cancel = true;
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

std::optional<std::string> SubmissionQueue::liveLog(int64_t submissionId) const {
    std::lock_guard<std::mutex> hold(m_liveLock);
    if (submissionId == 0 || submissionId != m_liveId) {
        return std::nullopt;
    }
    return m_liveLog;
}

bool SubmissionQueue::build(int64_t id, const std::string& folder, std::string& log) {
    {
        std::lock_guard<std::mutex> hold(m_liveLock);
        m_liveId = id;
        m_liveLog.clear();
    }
    const bool built = m_build.run(
        folder, log,
        [this](std::string_view piece) {
            std::lock_guard<std::mutex> hold(m_liveLock);
            m_liveLog.append(piece);
        },
        &m_cancel);
    // The whole log, its last line included, is seen until the database has it.
    std::lock_guard<std::mutex> hold(m_liveLock);
    m_liveLog = log;
    return built;
}

void SubmissionQueue::endLive() {
    std::lock_guard<std::mutex> hold(m_liveLock);
    m_liveId = 0;
    m_liveLog.clear();
    m_liveLog.shrink_to_fit();
}

bool SubmissionQueue::record(int64_t id, bool built, std::string log) {
    // A full disk may refuse the result too. It is tried again until the disk has room (or
    // the site stops), the log cut to its end so that less room is needed.
    for (int attempt = 0; !m_store.finishBuild(id, built, log); ++attempt) {
        if (attempt == 0) {
            LOG(Arena::logger(), lumber::ERR) << "cannot record how submission " << id
                                              << " built (is the disk full?); trying again every "
                                              << retrySeconds.count() << " s";
        }
        if (log.size() > keptLogBytes) {
            log = "[the log's start is cut: the disk was full]\n" +
                  log.substr(log.size() - keptLogBytes);
        }
        std::unique_lock<std::mutex> hold(m_lock);
        if (m_wake.wait_for(hold, retrySeconds, [this] { return m_stopping; })) {
            return false;
        }
    }
    return true;
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
        const bool built = build(id, row->folder, log);
        // A build the stop interrupted stays unfinished and runs again at the next start.
        const bool recorded = !m_cancel && record(id, built, log);
        endLive();
        if (!recorded) {
            return;
        }
        LOG(Arena::logger(), lumber::INFO) << "Submission " << id << " of team " << row->team
                                           << (built ? " built" : " failed to build");
        if (built && m_onBuilt) {
            m_onBuilt(*m_store.submission(id));
        }
    }
}
