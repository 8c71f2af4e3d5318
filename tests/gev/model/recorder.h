#pragma once
// A callback target that records its calls and answers as told.
#include "model/registers.h"

#include <functional>
#include <string>
#include <vector>

namespace testing_support {

class Recorder : public Kivu::Base {
public:
    explicit Recorder(std::string name = "r", bool answer = true) : m_Name(std::move(name)), m_Answer(answer) {}

    template <class R>
    bool On(R* reg)
    {
        calls.push_back(m_Name);
        requesters.push_back(reg->GetRequester());
        if (action)
            action();
        return m_Answer;
    }

    template <class R>
    Kivu::Callback<R> Cb()
    {
        return Kivu::MakeCallback(this, &Recorder::On<R>);
    }

    void MarkDead() { m_Marker = Kivu::kDeadMarker; }

    std::vector<std::string> calls;
    std::vector<uint32_t> requesters;
    std::function<void()> action;  // run inside the callback

private:
    std::string m_Name;
    bool m_Answer;
};

}  // namespace testing_support
