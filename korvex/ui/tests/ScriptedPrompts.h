#pragma once
// Operator prompts that record what the window said and answer from a script.
#include <deque>
#include <type_traits>

#include "ui/OperatorPrompts.h"

namespace korvex::testing {

struct ScriptedPrompts : IOperatorPrompts {
    std::vector<std::string> informations, warnings, errors, confirmations;
    std::deque<bool> confirmAnswers;
    std::deque<std::vector<std::string>> openFilesAnswers;
    std::deque<std::optional<std::string>> fileAnswers, inputAnswers;

    void Information(const std::string& t) override { informations.push_back(t); }
    void Warning(const std::string& t) override { warnings.push_back(t); }
    void Error(const std::string& t) override { errors.push_back(t); }
    bool Confirm(const std::string& t) override {
        confirmations.push_back(t);
        return Take(confirmAnswers, false);
    }
    std::vector<std::string> OpenFiles(const std::string&) override { return Take(openFilesAnswers, {}); }
    std::optional<std::string> OpenFile(const std::string&) override { return Take(fileAnswers, std::nullopt); }
    std::optional<std::string> SaveFile(const std::string&, const std::string&, const std::string&) override {
        return Take(fileAnswers, std::nullopt);
    }
    std::optional<std::string> InputText(const std::string&, const std::string&, const std::string&) override {
        return Take(inputAnswers, std::nullopt);
    }

private:
    template <class T>
    static T Take(std::deque<T>& q, std::type_identity_t<T> fallback) {
        if (q.empty()) return fallback;
        T v = std::move(q.front());
        q.pop_front();
        return v;
    }
};

}  // namespace korvex::testing
