#include "faults.h"

#include "textutil.h"

#include <sstream>

namespace boxsim {

namespace {
const std::vector<std::pair<std::string, FaultMode>>& modeNames() {
    static const std::vector<std::pair<std::string, FaultMode>> names = {
        {"none", FaultMode::None},
        {"slow", FaultMode::Slow},
        {"silent", FaultMode::Silent},
        {"trickle", FaultMode::Trickle},
        {"garbage", FaultMode::Garbage},
        {"garbage-body", FaultMode::GarbageBody},
        {"huge", FaultMode::Huge},
        {"close", FaultMode::Close},
        {"empty", FaultMode::Empty},
        {"gzip", FaultMode::Gzip},
        {"gzip-marker", FaultMode::GzipMarker},
        {"timeout-text", FaultMode::TimeoutText},
        {"drop", FaultMode::Drop},
        {"status", FaultMode::Status},
    };
    return names;
}
} // namespace

std::optional<FaultMode> faultModeFromName(const std::string& name) {
    for (const auto& [n, m] : modeNames()) {
        if (n == name)
            return m;
    }
    return std::nullopt;
}

std::string faultModeName(FaultMode mode) {
    for (const auto& [n, m] : modeNames()) {
        if (m == mode)
            return n;
    }
    return "none";
}

void FaultTable::set(const std::string& endpoint, const Fault& fault) {
    std::lock_guard lock(m_mutex);
    if (fault.mode == FaultMode::None)
        m_faults.erase(endpoint);
    else
        m_faults[endpoint] = fault;
}

void FaultTable::clear(const std::string& endpoint) {
    std::lock_guard lock(m_mutex);
    m_faults.erase(endpoint);
}

void FaultTable::clearAll() {
    std::lock_guard lock(m_mutex);
    m_faults.clear();
}

bool FaultTable::setFromText(const std::string& text, std::string* error) {
    // The endpoint may itself hold '=' ("...setAViAExtPlayBack=spts"), the mode part never does.
    const size_t eq = text.rfind('=');
    if (eq == std::string::npos || eq == 0) {
        *error = "fault must read ENDPOINT=MODE[:ARG[:COUNT]]: " + text;
        return false;
    }
    const std::vector<std::string> parts = split(text.substr(eq + 1), ':');
    const auto mode = faultModeFromName(parts[0]);
    if (!mode) {
        *error = "unknown fault mode: " + parts[0];
        return false;
    }
    Fault f;
    f.mode = *mode;
    if (parts.size() > 1)
        f.arg = toNumber(parts[1], -1);
    if (parts.size() > 2)
        f.count = int(toNumber(parts[2], 0));
    set(text.substr(0, eq), f);
    return true;
}

std::optional<Fault> FaultTable::take(const std::string& service, const std::string& path, const std::string& target) {
    std::lock_guard lock(m_mutex);
    // Most specific first: a full target, then the path, then the catch-all.
    auto found = m_faults.end();
    size_t bestLength = 0;
    for (auto it = m_faults.begin(); it != m_faults.end(); ++it) {
        const std::string& ep = it->first;
        if (service == "http" && startsWith(ep, "/")) {
            const bool withQuery = ep.find('?') != std::string::npos;
            const bool match = withQuery ? startsWith(target, ep) : ep == path;
            if (match && ep.size() + 1 > bestLength) {
                found = it;
                bestLength = ep.size() + 1;
            }
        } else if (ep == service && bestLength == 0) {
            found = it;
            bestLength = 1;
        }
    }
    if (found == m_faults.end() && service == "http")
        found = m_faults.find("*");
    if (found == m_faults.end())
        return std::nullopt;
    Fault f = found->second;
    if (found->second.count > 0 && --found->second.count == 0)
        m_faults.erase(found);
    return f;
}

std::string FaultTable::describe() const {
    std::lock_guard lock(m_mutex);
    std::ostringstream out;
    for (const auto& [ep, f] : m_faults)
        out << ep << ' ' << faultModeName(f.mode) << ' ' << f.arg << ' ' << f.count << "\r\n";
    return out.str();
}

void RequestLog::add(const std::string& service, const std::string& line) {
    std::lock_guard lock(m_mutex);
    m_lines[service].push_back(line);
}

std::vector<std::string> RequestLog::lines(const std::string& service) const {
    std::lock_guard lock(m_mutex);
    const auto it = m_lines.find(service);
    return it == m_lines.end() ? std::vector<std::string>() : it->second;
}

void RequestLog::clear() {
    std::lock_guard lock(m_mutex);
    m_lines.clear();
}

} // namespace boxsim
