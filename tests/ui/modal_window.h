// Runs one of the program's modal windows on a thread of its own, so that the test thread
// can find it and drive it as a user would, and records what it hands to the shell.
#pragma once
#include "support/test_support.h"
#include <gtest/gtest.h>
#include <shellapi.h>
#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace ui_test {

constexpr DWORD WAIT_MS = 20000;

using test::Eventually;

class ModalWindow {
public:
    // Runs 'open' and finds the first window it shows titled 'title'.
    explicit ModalWindow(std::function<DWORD()> open, const wchar_t* title = L"Varnolt")
        : title_(title), thread_([this, open] {
              threadId_ = GetCurrentThreadId();
              result_ = open();
              done_ = true;
          })
    {
        EXPECT_TRUE(Eventually([this] { return (window_ = Find(title_, nullptr)) != nullptr; })) << "the window did not open";
    }
    ~ModalWindow()
    {
        if (!done_ && window_)
            PostMessageW(window_, WM_COMMAND, IDCANCEL, 0);
        thread_.join();
    }
    HWND window() const { return window_; }
    // The next visible window titled 'title' of the thread other than 'besides'.
    HWND WaitForWindow(const wchar_t* title, HWND besides = nullptr) const
    {
        HWND found = nullptr;
        EXPECT_TRUE(Eventually([&] { return (found = Find(title, besides)) != nullptr; })) << "no window";
        return found;
    }
    DWORD threadId() const { return threadId_; }
    // Waits for the window to close; its result.
    DWORD Result()
    {
        EXPECT_TRUE(Eventually([this] { return done_.load(); })) << "the window did not close";
        return done_ ? result_ : 0xDEAD;
    }
    bool IsOpen() const { return !done_; }

private:
    struct Search {
        const wchar_t* title;
        HWND besides;
        HWND found;
    };
    HWND Find(const wchar_t* title, HWND besides) const
    {
        Search search = {title, besides, nullptr};
        EnumThreadWindows(threadId_, [](HWND window, LPARAM data) {
            auto& search = *reinterpret_cast<Search*>(data);
            wchar_t title[64] = {};
            GetWindowTextW(window, title, 64);
            if (window == search.besides || !IsWindowVisible(window) || wcscmp(title, search.title) != 0)
                return TRUE;
            search.found = window;
            return FALSE;
        }, reinterpret_cast<LPARAM>(&search));
        return threadId_ ? search.found : nullptr;
    }

    const wchar_t* title_;
    std::atomic<DWORD> threadId_{0};
    std::atomic<bool> done_{false};
    DWORD result_ = 0;
    HWND window_ = nullptr;
    std::thread thread_;
};

// What the windows handed to the shell: file and parameters of each call.
struct ShellCall {
    std::wstring file;
    std::wstring parameters;
};

class ShellRecorder {
public:
    static BOOL Record(SHELLEXECUTEINFOW* info)
    {
        std::lock_guard<std::mutex> lock(mutex);
        calls.push_back({info->lpFile ? info->lpFile : L"", info->lpParameters ? info->lpParameters : L""});
        return TRUE;
    }
    static std::vector<ShellCall> Calls()
    {
        std::lock_guard<std::mutex> lock(mutex);
        return calls;
    }
    static void Clear()
    {
        std::lock_guard<std::mutex> lock(mutex);
        calls.clear();
    }

private:
    static inline std::mutex mutex;
    static inline std::vector<ShellCall> calls;
};

} // namespace ui_test
