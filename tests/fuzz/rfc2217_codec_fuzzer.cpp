#include "bridge/Rfc2217Codec.h"
#include "tests/fuzz/FuzzCheck.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace {

bool sameInput(const Rfc2217Codec::Input& a, const Rfc2217Codec::Input& b) {
    if (a.data != b.data || a.reply != b.reply || a.dataBefore != b.dataBefore ||
        a.commands.size() != b.commands.size())
        return false;
    for (std::size_t i = 0; i < a.commands.size(); ++i)
        if (a.commands[i].command != b.commands[i].command ||
            a.commands[i].value != b.commands[i].value || a.commands[i].text != b.commands[i].text)
            return false;
    return true;
}

} // namespace

// Whatever a client sends: the codec never keeps more than its bound of a subnegotiation, gives
// the same result however the bytes are split into reads, answers only with whole negotiation
// verbs, and line data escaped for the wire comes back unchanged.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Rfc2217Codec whole;
    Rfc2217Codec::Input all;
    whole.receive(data, size, all);

    const std::size_t cut = size ? data[0] % (size + 1) : 0;
    Rfc2217Codec split;
    Rfc2217Codec::Input parts;
    split.receive(data, cut, parts);
    split.receive(data + cut, size - cut, parts);
    fuzzCheck(sameInput(all, parts), "the same input split in two gives the same result");
    fuzzCheck(whole.problems() == split.problems(), "problems do not depend on the split");

    fuzzCheck(all.data.size() <= size, "no more line data than input");
    fuzzCheck(all.dataBefore.size() == all.commands.size(), "every command has its place");
    for (std::size_t i = 0; i < all.dataBefore.size(); ++i)
        fuzzCheck(all.dataBefore[i] <= all.data.size() &&
                      (i == 0 || all.dataBefore[i - 1] <= all.dataBefore[i]),
                  "command places are in order within the data");
    for (const auto& command : all.commands)
        fuzzCheck(command.text.size() <= Rfc2217Codec::MaxSubnegotiation,
                  "a signature is never longer than the bound");
    fuzzCheck(all.reply.size() % 3 == 0, "answers are whole verbs");
    for (std::size_t i = 0; i < all.reply.size(); i += 3) {
        const auto verb = static_cast<std::uint8_t>(all.reply[i + 1]);
        fuzzCheck(static_cast<std::uint8_t>(all.reply[i]) == 255 && verb >= 251 && verb <= 254,
                  "answers are IAC WILL, WONT, DO or DONT");
    }

    std::string framed;
    Rfc2217Codec::escape(reinterpret_cast<const char*>(data), size, framed);
    Rfc2217Codec back;
    Rfc2217Codec::Input echoed;
    back.receive(reinterpret_cast<const std::uint8_t*>(framed.data()), framed.size(), echoed);
    fuzzCheck(echoed.data == std::string(reinterpret_cast<const char*>(data), size),
              "escaped line data comes back unchanged");
    fuzzCheck(echoed.commands.empty() && echoed.reply.empty() && back.problems() == 0,
              "escaped line data holds no command");
    return 0;
}
