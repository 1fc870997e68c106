#pragma once

// Talks to a running server's tower page over loopback with libcurl. Every
// request is bounded in time.

#include "LoopbackHarness.h"

#include <curl/curl.h>
#include <nlohmann/json.hpp>

#include <string>

struct PageReply {
    long status = 0;
    std::string body;
    nlohmann::json json() const { return nlohmann::json::parse(body, nullptr, false); }
};

class PageClient {
public:
    // Reads the page's address and key from the server's first lines.
    explicit PageClient(ServerProcess& server)
    {
        server.waitForLine("captain's page: ", 5000);
        for (const std::string& line : server.lines()) {
            if (line.rfind("tower page on http://", 0) == 0)
                base_ = line.substr(std::string("tower page on ").size());
            if (const auto at = line.find("?key="); line.rfind("captain's page: ", 0) == 0 && at != std::string::npos)
                key_ = line.substr(at + 5);
        }
        if (!base_.empty() && base_.back() == '/')
            base_.pop_back();
    }

    bool ready() const { return !base_.empty() && !key_.empty(); }
    const std::string& key() const { return key_; }
    const std::string& base() const { return base_; }

    PageReply get(const std::string& path) const { return request("GET", path, "", ""); }
    PageReply post(const std::string& path, const std::string& body) const { return request("POST", path, body, key_); }
    PageReply postWithKey(const std::string& path, const std::string& body, const std::string& key) const
    {
        return request("POST", path, body, key);
    }

    static std::string escaped(const std::string& text)
    {
        char* escaped = curl_easy_escape(nullptr, text.data(), static_cast<int>(text.size()));
        std::string result(escaped);
        curl_free(escaped);
        return result;
    }

private:
    static std::size_t collect(char* data, std::size_t size, std::size_t count, void* into)
    {
        static_cast<std::string*>(into)->append(data, size * count);
        return size * count;
    }

    PageReply request(const std::string& method, const std::string& path, const std::string& body,
                      const std::string& key) const
    {
        PageReply reply;
        CURL* curl = curl_easy_init();
        const std::string url = base_ + path;
        curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
        curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, 5000L);
        curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
        curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &PageClient::collect);
        curl_easy_setopt(curl, CURLOPT_WRITEDATA, &reply.body);
        curl_slist* headers = nullptr;
        if (!key.empty())
            headers = curl_slist_append(headers, ("X-Captain-Key: " + key).c_str());
        headers = curl_slist_append(headers, "Content-Type: application/json");
        headers = curl_slist_append(headers, "Expect:");
        curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
        if (method == "POST") {
            curl_easy_setopt(curl, CURLOPT_POSTFIELDS, body.data());
            curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE, static_cast<long>(body.size()));
        }
        if (curl_easy_perform(curl) == CURLE_OK)
            curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &reply.status);
        curl_slist_free_all(headers);
        curl_easy_cleanup(curl);
        return reply;
    }

    std::string base_;
    std::string key_;
};
