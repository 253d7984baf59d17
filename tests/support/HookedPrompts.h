#pragma once

#include "tests/support/RecordingPrompts.h"

#include <functional>

// Recording prompts that run a test's action while a message box is open, the way a real box
// runs a nested event loop in which timers and received data go on.
class HookedPrompts : public RecordingPrompts {
public:
    std::function<void(const Prompt&)> whileMessageOpen;

    PromptAnswer Message(QWidget* owner, const QString& text, const QString& caption,
                         PromptIcon icon, PromptButtons buttons) override {
        const PromptAnswer answer = RecordingPrompts::Message(owner, text, caption, icon, buttons);
        if (whileMessageOpen) {
            // One action per box; it may open boxes of its own.
            auto action = std::move(whileMessageOpen);
            whileMessageOpen = nullptr;
            action(Prompts.back());
        }
        return answer;
    }
};
