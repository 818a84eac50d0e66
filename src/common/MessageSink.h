#pragma once

#include <string>
#include <vector>

namespace tarnvel {

enum class MessageIcon { Information, Warning, Error };

// Where core code shows a message box. The view decides how; an empty caption means
// the program title. Called on the window thread unless a function says otherwise.
class MessageSink {
public:
    virtual ~MessageSink() = default;
    virtual void showMessage(const std::string& text, MessageIcon icon = MessageIcon::Warning,
                             const std::string& caption = {}) = 0;
};

// Keeps every message, for tests and for command-line runs that print them afterwards.
class CollectingMessageSink : public MessageSink {
public:
    struct Entry {
        std::string text;
        MessageIcon icon;
        std::string caption;
    };
    void showMessage(const std::string& text, MessageIcon icon, const std::string& caption) override
    {
        messages.push_back({text, icon, caption});
    }
    std::vector<Entry> messages;
};

} // namespace tarnvel
