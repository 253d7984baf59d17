#pragma once

#include "dialogs/UserPrompts.h"

#include <QString>

#include <deque>
#include <optional>
#include <vector>

// Records every prompt and answers from a script (Yes when nothing is scripted).
class RecordingPrompts : public UserPrompts {
public:
    struct Prompt {
        QString Text;
        QString Caption;
        PromptIcon Icon = PromptIcon::None;
        PromptButtons Buttons = PromptButtons::Ok;
        QString Explanation;
        QString Detail;
    };

    PromptAnswer Message(QWidget*, const QString& text, const QString& caption, PromptIcon icon,
                         PromptButtons buttons) override {
        Prompts.push_back({text, caption, icon, buttons, QString(), QString()});
        if (buttons == PromptButtons::Ok)
            return PromptAnswer::Ok;
        if (Answers.empty())
            return PromptAnswer::Yes;
        PromptAnswer answer = Answers.front();
        Answers.pop_front();
        return answer;
    }

    PromptAnswer DetailedMessage(QWidget* owner, const QString& text, const QString& caption,
                                 PromptIcon icon, PromptButtons buttons, const QString& explanation,
                                 const QString& detail) override {
        const PromptAnswer answer = Message(owner, text, caption, icon, buttons);
        Prompts.back().Explanation = explanation;
        Prompts.back().Detail = detail;
        return answer;
    }

    std::optional<QString> FileName(QWidget*, const FileDialogRequest& request) override {
        FileRequests.push_back(request);
        if (FileAnswers.empty())
            return std::nullopt;
        if (!FileAnswers.front().has_value()) {
            FileAnswers.pop_front();
            return std::nullopt;
        }
        QString answer = *FileAnswers.front();
        FileAnswers.pop_front();
        return answer;
    }

    std::vector<Prompt> Prompts;
    std::deque<PromptAnswer> Answers;
    std::vector<FileDialogRequest> FileRequests;
    std::deque<std::optional<QString>> FileAnswers;
};
