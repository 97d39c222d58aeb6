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

template <typename Check>
bool Eventually(Check check)
{
    for (DWORD waited = 0; waited < WAIT_MS; waited += 10) {
        if (check())
            return true;
        Sleep(10);
    }
    return check();
}

class ModalWindow {
public:
    explicit ModalWindow(std::function<DWORD()> open)
        : thread_([this, open] {
              threadId_ = GetCurrentThreadId();
              result_ = open();
              done_ = true;
          })
    {
        EXPECT_TRUE(Eventually([this] { return (window_ = Find()) != nullptr; })) << "the window did not open";
    }
    ~ModalWindow()
    {
        if (!done_ && window_)
            PostMessageW(window_, WM_COMMAND, IDCANCEL, 0);
        thread_.join();
    }
    HWND window() const { return window_; }
    DWORD threadId() const { return threadId_; }
    // Waits for the window to close; its result.
    DWORD Result()
    {
        EXPECT_TRUE(Eventually([this] { return done_.load(); })) << "the window did not close";
        return done_ ? result_ : 0xDEAD;
    }
    bool IsOpen() const { return !done_; }

private:
    HWND Find() const
    {
        HWND found = nullptr;
        EnumThreadWindows(threadId_, [](HWND window, LPARAM data) {
            wchar_t title[16] = {};
            GetWindowTextW(window, title, 16);
            if (!IsWindowVisible(window) || wcscmp(title, L"Varnolt") != 0)
                return TRUE;
            *reinterpret_cast<HWND*>(data) = window;
            return FALSE;
        }, reinterpret_cast<LPARAM>(&found));
        return threadId_ ? found : nullptr;
    }

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
