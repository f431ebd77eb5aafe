// A stand-in for the main window's preview that records every request in order.
#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "app/work_thread.h"
#include "media/preview_sink.h"
#include "platform/codepage.h"

class FakePreview : public IPreviewSink {
public:
    PreviewState state;
    std::atomic<int> outerWidth{930}; // layout width 650: three columns
    // Runs on the worker's thread after each request has been recorded.
    std::function<void(const std::string&)> hook;

    std::vector<std::string> Events() {
        std::lock_guard<std::mutex> lock(mu_);
        return events_;
    }
    std::vector<QImage> Images() {
        std::lock_guard<std::mutex> lock(mu_);
        return images_;
    }

    PreviewState& Preview() override { return state; }
    QSize OuterSize() override { return QSize(outerWidth.load(), 700); }
    void SetImageCount(int count) override {
        {
            std::lock_guard<std::mutex> lock(mu_);
            images_.resize(static_cast<std::size_t>(count));
        }
        Add("count " + std::to_string(count));
    }
    void ReplaceImage(int index, const QImage& image) override {
        {
            std::lock_guard<std::mutex> lock(mu_);
            if (index >= 0 && static_cast<std::size_t>(index) < images_.size())
                images_[static_cast<std::size_t>(index)] = image;
        }
        Add("image " + std::to_string(index));
    }
    void RemoveAllImages() override {
        {
            std::lock_guard<std::mutex> lock(mu_);
            images_.clear();
        }
        Add("remove images");
    }
    void InsertItem(int index, const std::u16string& text, int image) override {
        Add("insert " + std::to_string(index) + " " + platform::ToNarrow(text) + " " +
            std::to_string(image));
    }
    void AttachRecord(int index, const UpInfo& record) override {
        Add("attach " + std::to_string(index) + " " + platform::ToNarrow(record.m_tcVid));
    }
    void SetItemPosition(int index, QPoint pos) override {
        Add("pos " + std::to_string(index) + " " + std::to_string(pos.x()) + "," +
            std::to_string(pos.y()));
    }
    void DeleteAllItems() override { Add("delete items"); }
    void FreeItemRecords() override { Add("free records"); }
    void SetRedraw(bool on) override { Add(on ? "redraw on" : "redraw off"); }
    void InvalidateList() override { Add("invalidate"); }

private:
    void Add(const std::string& e) {
        {
            std::lock_guard<std::mutex> lock(mu_);
            events_.push_back(e);
        }
        if (hook)
            hook(e);
    }

    std::mutex mu_;
    std::vector<std::string> events_;
    std::vector<QImage> images_;
};

// Waits until the worker's thread has ended; false after `ms` milliseconds.
inline bool WaitEnded(CWorkThread& w, int ms) {
    auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (w.IsRunning()) {
        if (std::chrono::steady_clock::now() > until)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

// The requests that place names[first .. first+n) with `columns` columns.
inline void ExpectPlaced(std::vector<std::string>& out, const std::vector<std::u16string>& names,
                         int first, int n, int columns, bool withImage) {
    for (int i = first; i < first + n; ++i) {
        if (withImage)
            out.push_back("image " + std::to_string(i));
        out.push_back("insert " + std::to_string(i) + " " +
                      platform::ToNarrow(names[static_cast<std::size_t>(i)]) + " " +
                      std::to_string(i));
        out.push_back("pos " + std::to_string(i) + " " + std::to_string((i % columns) * 200 + 40) +
                      "," + std::to_string((i / columns) * 160 + 40));
    }
}
