#include "bridge/Rfc2217Codec.h"

namespace {
constexpr std::uint8_t Iac = 255;
constexpr std::uint8_t Dont = 254;
constexpr std::uint8_t Do = 253;
constexpr std::uint8_t Wont = 252;
constexpr std::uint8_t Will = 251;
constexpr std::uint8_t Sb = 250;
constexpr std::uint8_t Se = 240;
constexpr std::uint8_t Binary = 0;
constexpr std::uint8_t SuppressGoAhead = 3;

std::string verbPair(std::uint8_t verb, std::uint8_t option) {
    return std::string{static_cast<char>(Iac), static_cast<char>(verb), static_cast<char>(option)};
}

void putSubByte(std::string& out, std::uint8_t byte) {
    out.push_back(static_cast<char>(byte));
    if (byte == Iac)
        out.push_back(static_cast<char>(Iac));
}
} // namespace

bool Rfc2217Codec::supported(std::uint8_t option) {
    return option == Binary || option == SuppressGoAhead || option == ComPortOption;
}

std::string Rfc2217Codec::greeting() {
    m_usAsked[Binary] = m_himAsked[Binary] = true;
    return verbPair(Will, Binary) + verbPair(Do, Binary);
}

void Rfc2217Codec::problem(std::string what) {
    ++m_problems;
    m_lastProblem = std::move(what);
}

void Rfc2217Codec::receive(const std::uint8_t* bytes, std::size_t size, Input& input) {
    for (std::size_t i = 0; i < size; ++i) {
        const std::uint8_t b = bytes[i];
        switch (m_state) {
        case State::Data:
            if (b == Iac)
                m_state = State::Iac;
            else
                input.data.push_back(static_cast<char>(b));
            break;
        case State::Iac:
            if (b == Iac) {
                input.data.push_back(static_cast<char>(Iac));
                m_state = State::Data;
            } else if (b >= Will && b <= Dont) {
                m_verb = b;
                m_state = State::Negotiate;
            } else if (b == Sb) {
                m_sub.clear();
                m_state = State::Sub;
            } else {
                // NOP, go ahead, interrupt and the rest mean nothing to a serial line.
                if (b == Se)
                    problem("end of subnegotiation without a start");
                m_state = State::Data;
            }
            break;
        case State::Negotiate:
            negotiate(m_verb, b, input.reply);
            m_state = State::Data;
            break;
        case State::Sub:
            if (b == Iac)
                m_state = State::SubIac;
            else if (m_sub.size() >= MaxSubnegotiation) {
                problem("subnegotiation longer than " + std::to_string(MaxSubnegotiation) +
                        " bytes dropped");
                m_sub.clear();
                m_state = State::SubSkip;
            } else
                m_sub.push_back(static_cast<char>(b));
            break;
        case State::SubIac:
            if (b == Se) {
                subnegotiation(input);
                m_state = State::Data;
            } else if (b == Iac) {
                if (m_sub.size() >= MaxSubnegotiation) {
                    problem("subnegotiation longer than " + std::to_string(MaxSubnegotiation) +
                            " bytes dropped");
                    m_sub.clear();
                    m_state = State::SubSkip;
                } else {
                    m_sub.push_back(static_cast<char>(Iac));
                    m_state = State::Sub;
                }
            } else {
                // RFC 854 leaves this open; treat it as the end of a broken subnegotiation
                // and read the byte as a command.
                problem("subnegotiation ended without IAC SE");
                m_sub.clear();
                m_state = State::Iac;
                --i;
            }
            break;
        case State::SubSkip:
            if (b == Iac)
                m_state = State::SubSkipIac;
            break;
        case State::SubSkipIac:
            m_state = b == Se ? State::Data : State::SubSkip;
            break;
        }
    }
}

void Rfc2217Codec::negotiate(std::uint8_t verb, std::uint8_t option, std::string& reply) {
    // Answer only changes of state, so two ends never loop on agreements.
    switch (verb) {
    case Do:
        if (!supported(option)) {
            reply += verbPair(Wont, option);
        } else if (!m_us[option]) {
            m_us[option] = true;
            if (!m_usAsked[option])
                reply += verbPair(Will, option);
        }
        m_usAsked[option] = false;
        break;
    case Dont:
        if (m_us[option]) {
            m_us[option] = false;
            if (!m_usAsked[option])
                reply += verbPair(Wont, option);
        }
        m_usAsked[option] = false;
        break;
    case Will:
        if (!supported(option)) {
            reply += verbPair(Dont, option);
        } else if (!m_him[option]) {
            m_him[option] = true;
            if (!m_himAsked[option])
                reply += verbPair(Do, option);
        }
        m_himAsked[option] = false;
        break;
    case Wont:
        if (m_him[option]) {
            m_him[option] = false;
            if (!m_himAsked[option])
                reply += verbPair(Dont, option);
        }
        m_himAsked[option] = false;
        break;
    }
}

void Rfc2217Codec::subnegotiation(Input& input) {
    if (m_sub.empty()) {
        problem("empty subnegotiation");
        return;
    }
    if (static_cast<std::uint8_t>(m_sub[0]) != ComPortOption) {
        problem("subnegotiation of option " + std::to_string(static_cast<std::uint8_t>(m_sub[0])) +
                " ignored");
        return;
    }
    if (m_sub.size() < 2) {
        problem("COM-PORT-OPTION subnegotiation without a command");
        return;
    }
    const auto code = static_cast<std::uint8_t>(m_sub[1]);
    const std::string value = m_sub.substr(2);
    if (code > PurgeData) {
        problem("unknown COM-PORT-OPTION command " + std::to_string(code));
        return;
    }
    PortCommand command{static_cast<Command>(code), 0, {}};
    if (code == Signature) {
        command.text = value;
    } else {
        const std::size_t width = code == SetBaudRate ? 4 : 1;
        const bool noValue = code == FlowControlSuspend || code == FlowControlResume ||
                             code == NotifyLineState || code == NotifyModemState;
        if (!noValue && value.size() != width) {
            problem("COM-PORT-OPTION command " + std::to_string(code) + " with " +
                    std::to_string(value.size()) + " value bytes");
            return;
        }
        for (std::size_t i = 0; i < width && i < value.size(); ++i)
            command.value = command.value << 8 | static_cast<std::uint8_t>(value[i]);
    }
    input.dataBefore.push_back(input.data.size());
    input.commands.push_back(std::move(command));
}

void Rfc2217Codec::escape(const char* data, std::size_t size, std::string& out) {
    for (std::size_t i = 0; i < size; ++i) {
        out.push_back(data[i]);
        if (static_cast<std::uint8_t>(data[i]) == Iac)
            out.push_back(data[i]);
    }
}

std::string Rfc2217Codec::answer(Command command, std::uint32_t value) {
    std::string out{static_cast<char>(Iac), static_cast<char>(Sb), static_cast<char>(ComPortOption),
                    static_cast<char>(command + ServerOffset)};
    if (command == SetBaudRate) {
        for (int shift = 24; shift >= 0; shift -= 8)
            putSubByte(out, static_cast<std::uint8_t>(value >> shift));
    } else if (command != FlowControlSuspend && command != FlowControlResume) {
        putSubByte(out, static_cast<std::uint8_t>(value));
    }
    out.push_back(static_cast<char>(Iac));
    out.push_back(static_cast<char>(Se));
    return out;
}

std::string Rfc2217Codec::answerText(Command command, const std::string& text) {
    std::string out{static_cast<char>(Iac), static_cast<char>(Sb), static_cast<char>(ComPortOption),
                    static_cast<char>(command + ServerOffset)};
    for (char c : text)
        putSubByte(out, static_cast<std::uint8_t>(c));
    out.push_back(static_cast<char>(Iac));
    out.push_back(static_cast<char>(Se));
    return out;
}
