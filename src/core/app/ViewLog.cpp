#include "app/ViewLog.h"

#include <fstream>

namespace tavrix {

void ViewLog::NewLine() {
    current_ = (current_ + 1) % kLines;
    lines_[static_cast<size_t>(current_)].clear();
    column_ = 0;
    if (used_ < kLines) ++used_;
    ++begun_;
}

void ViewLog::Store(char c) {
    lines_[static_cast<size_t>(current_)].push_back(c);
    ++column_;
}

void ViewLog::Append(const std::string& text) {
    std::lock_guard lock(mutex_);
    const size_t n = text.size();
    for (size_t i = 0; i < n && text[i] != '\0'; ++i) {
        const char c = text[i];
        if (column_ >= kColumns) {
            NewLine();
            Store(c);
        } else if (c == '\r' || c == '\n') {
            NewLine();
            if (i + 1 < n && text[i + 1] != '\0')
                Store(text[++i]);
            else if (i + 1 < n)
                break;
        } else {
            Store(c);
        }
    }
    ++generation_;
}

std::vector<std::string> ViewLog::Lines() const {
    std::lock_guard lock(mutex_);
    std::vector<std::string> out;
    out.reserve(static_cast<size_t>(used_));
    const int first = used_ < kLines ? 0 : (current_ + 1) % kLines;
    for (int k = 0; k < used_; ++k)
        out.push_back(lines_[static_cast<size_t>((first + k) % kLines)]);
    return out;
}

int ViewLog::CurrentLine() const {
    std::lock_guard lock(mutex_);
    return current_;
}

uint64_t ViewLog::LinesBegun() const {
    std::lock_guard lock(mutex_);
    return begun_;
}

uint64_t ViewLog::Generation() const {
    std::lock_guard lock(mutex_);
    return generation_;
}

void ViewLog::Clear() {
    std::lock_guard lock(mutex_);
    for (auto& line : lines_) line.clear();
    current_ = 0;
    used_ = 1;
    column_ = 0;
    begun_ = 0;
    ++generation_;
}

bool ViewLog::SaveText(const std::string& path, const std::vector<std::string>& lines) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out) return false;
    for (const auto& line : lines) out << line << "\r\n";
    out.close();
    return !out.fail();
}

}  // namespace tavrix
