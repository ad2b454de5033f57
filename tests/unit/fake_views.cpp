#include "tests/unit/fixture.h"

std::vector<std::string> TraceTexts()
{
    std::vector<std::string> texts;
    for (const fake::TraceLine &line : fake::Traces()) {
        std::string text;
        size_t next = 0;
        for (size_t i = 0; i < line.format.size(); ++i) {
            char c = line.format[i];
            if (c == '%' && i + 1 < line.format.size() && next < line.args.size()) {
                text += line.args[next++];
                ++i;
            } else {
                text += c;
            }
        }
        texts.push_back(text);
    }
    return texts;
}

::testing::AssertionResult NothingLeft()
{
    fake::Outstanding left = fake::Left();
    if (left.Nothing()) {
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure() << "left outstanding: " << left.Text();
}

std::vector<std::string> CallsFrom(const std::string &api, const std::vector<std::string> &apis)
{
    std::vector<std::string> texts;
    bool started = false;
    for (const fake::Call &call : fake::Calls()) {
        started = started || call.api == api;
        bool wanted = apis.empty();
        for (const std::string &name : apis) {
            wanted = wanted || call.api == name;
        }
        if (started && wanted) {
            texts.push_back(call.Text());
        }
    }
    return texts;
}
