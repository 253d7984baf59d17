#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// The server's side of a Telnet connection carrying the COM-PORT-OPTION (RFC 2217): splits what
// a client sends into line data and port commands, answers the option negotiation, and frames
// the server's answers and notifications. No I/O and no Qt, so it can be fed anything.
// Broken input never stops it: a subnegotiation longer than MaxSubnegotiation is dropped
// whole, an unexpected byte after IAC is ignored, and each is counted as a problem.
class Rfc2217Codec {
public:
    static constexpr std::uint8_t ComPortOption = 44;
    static constexpr std::size_t MaxSubnegotiation = 64;

    // Client-to-server command codes; the server answers with code + 100.
    enum Command : std::uint8_t {
        Signature = 0,
        SetBaudRate = 1,
        SetDataSize = 2,
        SetParity = 3,
        SetStopSize = 4,
        SetControl = 5,
        NotifyLineState = 6,
        NotifyModemState = 7,
        FlowControlSuspend = 8,
        FlowControlResume = 9,
        SetLineStateMask = 10,
        SetModemStateMask = 11,
        PurgeData = 12,
    };
    static constexpr std::uint8_t ServerOffset = 100;

    // One COM-PORT-OPTION command from the client: value holds the number (network order on
    // the wire, four bytes for the rate, one for the others); text the signature.
    struct PortCommand {
        Command command;
        std::uint32_t value = 0;
        std::string text;
    };

    // What one call of receive found.
    struct Input {
        std::string data;                  // line data, Telnet escapes removed
        std::vector<PortCommand> commands; // in arrival order, after data that came before them
        std::string reply;                 // negotiation answers to send back at once
        // Where each command falls in data: commands[i] came after data[0, dataBefore[i]).
        std::vector<std::size_t> dataBefore;
    };

    // The server's opening: it will and wants the binary transmission both ways.
    std::string greeting();
    void receive(const std::uint8_t* bytes, std::size_t size, Input& input);

    // Line data for the client, IAC doubled.
    static void escape(const char* data, std::size_t size, std::string& out);
    // A server answer or notification: IAC SB 44 (command + 100) value IAC SE.
    static std::string answer(Command command, std::uint32_t value);
    static std::string answerText(Command command, const std::string& text);

    bool comPortEnabled() const { return m_him[ComPortOption] || m_us[ComPortOption]; }
    // Broken negotiation seen so far, and the last one in words for the log.
    std::uint64_t problems() const { return m_problems; }
    const std::string& lastProblem() const { return m_lastProblem; }

private:
    enum class State { Data, Iac, Negotiate, Sub, SubIac, SubSkip, SubSkipIac };
    void negotiate(std::uint8_t verb, std::uint8_t option, std::string& reply);
    void subnegotiation(Input& input);
    void problem(std::string what);
    static bool supported(std::uint8_t option);

    State m_state = State::Data;
    std::uint8_t m_verb = 0;
    std::string m_sub;
    bool m_us[256] = {};
    bool m_him[256] = {};
    bool m_usAsked[256] = {};
    bool m_himAsked[256] = {};
    std::uint64_t m_problems = 0;
    std::string m_lastProblem;
};
