#include "RunOptions.h"

RunOptions::RunOptions(unsigned* jobs, std::string& server, std::string& client,
                       bool* oversubscribe)
    : m_server("The server program", "server", server),
      m_client("The reference client program", "client", client) {
    if (jobs != nullptr) {
        m_jobs.emplace("Play this many matches at once (default: the configuration's concurrency, "
                       "else one per usable core)",
                       "jobs", *jobs);
        m_jobs->valuename("number").alias('j');
    }
    if (oversubscribe != nullptr) {
        m_oversubscribe.emplace("Allow more matches at once than usable cores (they share cores, "
                                "and the records say so)",
                                "oversubscribe", *oversubscribe);
    }
    m_server.valuename("path");
    m_client.valuename("path");
}

void RunOptions::addTo(knob::ArgumentParser& parser) {
    if (m_jobs) {
        parser.add(*m_jobs);
    }
    if (m_oversubscribe) {
        parser.add(*m_oversubscribe);
    }
    parser.add(m_server);
    parser.add(m_client);
}
