#pragma once

#include <QString>

#include <array>
#include <optional>

// The receiver's web-server settings as its settings page shows them, in the order the update sends them.
struct WebServerSettings {
    static constexpr int kFieldCount = 10;
    static constexpr int kPort = 4;
    static constexpr int kThreading = 5;
    static const std::array<const char*, kFieldCount>& fieldNames();
    std::array<QString, kFieldCount> values; // authuser ... no_keep_alive_ips
    QString value(const char* name) const;
};
// The ten values of "Y_Settings_nhttpd.yhtm"; nothing when a field is missing or cut, so a broken page
// can never become an update request. The port comes back as the bare number.
std::optional<WebServerSettings> parseWebServerPage(const QString& page);

// The port as a bare number within 1..65535 (blanks of any kind around it allowed), or nothing.
std::optional<int> webServerPort(const QString& text);

// The request that saves the settings on the receiver, and the same URL for the log and the status
// line with the password written as "***".
struct WebServerUpdate {
    QString url;
    QString logged;
};
WebServerUpdate webServerUpdate(const WebServerSettings& settings);
