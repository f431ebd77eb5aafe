// A recording stand-in for the main window's side of the upload engine.
#pragma once

#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "upload/upload_view.h"

class FakeUploadView : public IUploadView {
public:
    void AddUploadRow(const TaskRef& task) override {
        std::lock_guard<std::mutex> g(m);
        rows.push_back(task->info.m_strFilePath);
        rowValue[task->info.m_strFilePath] = 0;
    }
    void SetRowValue(const std::u16string& fullPath, int value) override {
        std::lock_guard<std::mutex> g(m);
        rowValue[fullPath] = value;
    }
    void ShowQueueSummary(int n) override {
        std::lock_guard<std::mutex> g(m);
        summaries.push_back(n);
    }
    void ShowNoSpaceMessage() override {
        std::lock_guard<std::mutex> g(m);
        ++noSpaceMessages;
    }
    void PostProgress(int percent, const std::u16string& fullPath) override {
        std::function<void(int)> hook;
        {
            std::lock_guard<std::mutex> g(m);
            progress[fullPath].push_back(percent);
            hook = onProgress;
        }
        if (hook)
            hook(percent);
        cv.notify_all();
    }
    void PostAllPaused() override {
        std::lock_guard<std::mutex> g(m);
        ++allPaused;
    }
    void ShowRowFailed(const std::u16string& fullPath, const std::u16string& text) override {
        std::lock_guard<std::mutex> g(m);
        failedText[fullPath] = text;
    }

    std::vector<int> Progress(const std::u16string& path) {
        std::lock_guard<std::mutex> g(m);
        return progress[path];
    }

    std::mutex m;
    std::condition_variable cv;
    std::vector<std::u16string> rows;
    std::map<std::u16string, int> rowValue;
    std::vector<int> summaries;
    std::map<std::u16string, std::vector<int>> progress;
    std::map<std::u16string, std::u16string> failedText;
    int noSpaceMessages = 0;
    int allPaused = 0;
    // Called on the transfer's thread after each progress message.
    std::function<void(int)> onProgress;
};
