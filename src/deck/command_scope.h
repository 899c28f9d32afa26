// Marks a transport handler's drive command as running, for the poll and for File, Exit.
#pragma once

namespace deck {

class CommandScope {
public:
    explicit CommandScope(int& depth) : depth_(depth) { ++depth_; }
    ~CommandScope() { --depth_; }
    CommandScope(const CommandScope&) = delete;
    CommandScope& operator=(const CommandScope&) = delete;

private:
    int& depth_;
};

}  // namespace deck
