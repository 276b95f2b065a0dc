#include "RunOptions.h"

RunOptions::RunOptions(unsigned* jobs, std::string& server, std::string& client)
    : m_server("The server program", "server", server),
      m_client("The reference client program", "client", client) {
    if (jobs != nullptr) {
        m_jobs.emplace("Play this many matches at once (default: the configuration's concurrency)",
                       "jobs", *jobs);
        m_jobs->valuename("number").alias('j');
    }
    m_server.valuename("path");
    m_client.valuename("path");
}

void RunOptions::addTo(knob::ArgumentParser& parser) {
    if (m_jobs) {
        parser.add(*m_jobs);
    }
    parser.add(m_server);
    parser.add(m_client);
}
