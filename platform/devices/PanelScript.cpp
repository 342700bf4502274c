#include "platform/devices/PanelScript.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace host {

namespace {

constexpr uint32_t kKeys = 60;
constexpr uint32_t kEncoders = 32;
constexpr uint32_t kTracks = 5;
constexpr uint64_t kClickBlocks = 8;
constexpr int32_t kMaxDetents = 1000000;
// Room above the largest block for the release of a click.
constexpr long long kMaxBlock = 1ll << 62;

bool parseInteger(const std::string& word, long long min, long long max, long long& out) {
    if (word.empty())
        return false;
    char* end = nullptr;
    errno = 0;
    long long v = strtoll(word.c_str(), &end, 10);
    if (errno != 0 || *end != '\0' || v < min || v > max)
        return false;
    out = v;
    return true;
}

}  // namespace

bool parsePanelScript(const std::string& text, std::vector<PanelEvent>& events, std::string& error) {
    std::vector<PanelEvent> parsed;
    std::istringstream in(text);
    std::string line;
    for (int number = 1; std::getline(in, line); ++number) {
        line = line.substr(0, line.find('#'));
        std::istringstream words(line);
        std::vector<std::string> w;
        for (std::string word; words >> word;)
            w.push_back(word);
        if (w.empty())
            continue;
        auto fail = [&](const std::string& why) {
            error = "line " + std::to_string(number) + ": " + why;
            return false;
        };
        long long block = 0, index = 0, detents = 0;
        if (!parseInteger(w[0], 0, kMaxBlock, block)) {
            if (!w[0].empty() && w[0].find_first_not_of("0123456789") == std::string::npos)
                return fail("block number " + w[0] + " is too large (at most " + std::to_string(kMaxBlock) + ")");
            return fail("a block number (0 or more) comes first");
        }
        if (w.size() < 3)
            return fail("expected \"key <k> down|up\", \"encoder <e> turn <n>|push [down|up]\" or \"track <t> down|up\"");
        PanelEvent e;
        e.block = uint64_t(block);
        if (w[1] == "key") {
            if (!parseInteger(w[2], 0, kKeys - 1, index))
                return fail("key number must be 0 to 59");
            if (w.size() != 4 || (w[3] != "down" && w[3] != "up"))
                return fail("expected \"key <k> down\" or \"key <k> up\"");
            e.kind = w[3] == "down" ? PanelEvent::KeyDown : PanelEvent::KeyUp;
            e.index = uint32_t(index);
            parsed.push_back(e);
        } else if (w[1] == "encoder") {
            if (!parseInteger(w[2], 0, kEncoders - 1, index))
                return fail("encoder number must be 0 to 31");
            e.index = uint32_t(index);
            if (w.size() == 5 && w[3] == "turn") {
                if (!parseInteger(w[4], -kMaxDetents, kMaxDetents, detents))
                    return fail("turn needs a whole number of detents");
                e.kind = PanelEvent::EncoderTurn;
                e.detents = int32_t(detents);
                parsed.push_back(e);
            } else if (w.size() == 4 && w[3] == "push") {
                e.kind = PanelEvent::PushDown;
                parsed.push_back(e);
                e.kind = PanelEvent::PushUp;
                e.block += kClickBlocks;
                parsed.push_back(e);
            } else if (w.size() == 5 && w[3] == "push" && (w[4] == "down" || w[4] == "up")) {
                e.kind = w[4] == "down" ? PanelEvent::PushDown : PanelEvent::PushUp;
                parsed.push_back(e);
            } else {
                return fail("expected \"encoder <e> turn <n>\" or \"encoder <e> push [down|up]\"");
            }
        } else if (w[1] == "track") {
            if (!parseInteger(w[2], 1, kTracks, index))
                return fail("track number must be 1 to 5");
            if (w.size() != 4 || (w[3] != "down" && w[3] != "up"))
                return fail("expected \"track <t> down\" or \"track <t> up\"");
            e.kind = w[3] == "down" ? PanelEvent::TrackDown : PanelEvent::TrackUp;
            e.index = uint32_t(index - 1);
            parsed.push_back(e);
        } else {
            return fail("unknown event \"" + w[1] + "\" (key, encoder or track)");
        }
    }
    std::stable_sort(parsed.begin(), parsed.end(),
                     [](const PanelEvent& a, const PanelEvent& b) { return a.block < b.block; });
    events = std::move(parsed);
    return true;
}

bool loadPanelScript(const std::string& path, std::vector<PanelEvent>& events, std::string& error) {
    // A folder opens as an empty stream: it would pass as a script of no events.
    std::error_code ec;
    if (std::filesystem::is_directory(path, ec)) {
        error = "is a folder, not a script file";
        return false;
    }
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        error = "cannot read the file";
        return false;
    }
    std::ostringstream text;
    text << file.rdbuf();
    if (file.bad()) {
        error = "cannot read the file";
        return false;
    }
    return parsePanelScript(text.str(), events, error);
}

}  // namespace host
