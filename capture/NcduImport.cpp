// Reading an ncdu JSON export. The JSON reader hands over one event at a time
// (nlohmann's SAX interface, which keeps its own nesting on the heap); the
// events drive a small state machine with a stack of levels: the top-level
// array, the metadata object, a directory's array and an entry's object.
// Values of fields this reader does not know are skipped, however nested.
// The JSON reader itself refuses a string that is not valid UTF-8 and an
// unescaped control character; what it lets through, an escaped one (\u0001)
// included, is checked here where it becomes a name.

#include "capture/NcduImport.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <istream>
#include <limits>
#include <streambuf>
#include <type_traits>

#include <nlohmann/json.hpp>

namespace corvina {

namespace {

using Json = nlohmann::json;

// Deeper values of unknown fields than this are no export's.
constexpr std::size_t kMaxSkippedDepth = 64;
// The last second a key can name: 9999-12-31 23:59:59 UTC.
constexpr std::int64_t kLastSecond = 253402300799;

// A descriptor read through a buffer of its own, so that the first bytes can
// be looked at before the JSON reader takes them, and a pipe is read as it
// comes rather than to its end first.
class DescriptorBuffer final : public std::streambuf {
public:
    explicit DescriptorBuffer(int fd) : fd_(fd), buffer_(1 << 16) {
        setg(buffer_.data(), buffer_.data(), buffer_.data());
    }

    // Up to n bytes from the start, before anything was taken.
    std::string_view Start(std::size_t n) {
        while (static_cast<std::size_t>(egptr() - eback()) < n) {
            const ssize_t got = Read(egptr(), buffer_.data() + buffer_.size() - egptr());
            if (got <= 0) break;
            setg(eback(), gptr(), egptr() + got);
        }
        return std::string_view(eback(), std::min<std::size_t>(n, egptr() - eback()));
    }
    int Error() const { return error_; }

protected:
    int_type underflow() override {
        if (gptr() < egptr()) return traits_type::to_int_type(*gptr());
        const ssize_t got = Read(buffer_.data(), buffer_.size());
        if (got <= 0) return traits_type::eof();
        setg(buffer_.data(), buffer_.data(), buffer_.data() + got);
        return traits_type::to_int_type(*gptr());
    }

private:
    ssize_t Read(char* into, std::size_t size) {
        ssize_t got = 0;
        do {
            got = ::read(fd_, into, size);
        } while (got < 0 && errno == EINTR);
        if (got < 0) error_ = errno;
        return got;
    }

    int fd_;
    std::vector<char> buffer_;
    int error_ = 0;
};

// What a file that is not a JSON export begins with, and what to do instead.
std::string ForeignFormat(std::string_view start) {
    if (start.starts_with("\xbf" "ncduEX")) {
        return "this is an ncdu binary export (ncdu 2's -O); only the JSON export is read: convert it with "
               "ncdu -f FILE -o FILE.json, or export with -o";
    }
    if (start.starts_with("\x28\xb5\x2f\xfd")) return "the export is compressed with zstd: decompress it first (zstd -dc)";
    if (start.starts_with("\x1f\x8b")) return "the export is compressed with gzip: decompress it first (gzip -dc)";
    return {};
}

const char* const kSupported = "only ncdu's JSON export of format major version 1 is read (ncdu 1.9 and later, -o)";

// A scalar as the JSON reader gives it.
struct Scalar {
    enum class Kind { Null, Bool, Signed, Unsigned, Float, String } What = Kind::Null;
    bool Bool = false;
    std::int64_t Signed = 0;
    std::uint64_t Unsigned = 0;
    const std::string* Text = nullptr;

    bool IsWhole() const { return What == Kind::Signed || What == Kind::Unsigned; }
    // A whole number from lo to hi.
    std::optional<std::int64_t> Whole(std::int64_t lo, std::int64_t hi) const {
        if (What == Kind::Unsigned) {
            if (Unsigned > static_cast<std::uint64_t>(hi)) return std::nullopt;
            return static_cast<std::int64_t>(Unsigned);
        }
        if (What == Kind::Signed && Signed >= lo && Signed <= hi) return Signed;
        return std::nullopt;
    }
};

std::string Quoted(std::string_view name) { return "\"" + std::string(name) + "\""; }

// Why a name cannot be a file's in a directory; "" when it can.
std::string NameProblem(std::string_view name) {
    if (name.empty()) return "an entry has an empty name";
    if (name == "." || name == "..") return "an entry is named " + Quoted(name);
    if (name.find('/') != std::string_view::npos) return "the name " + Quoted(name) + " holds a \"/\"";
    for (unsigned char c : name) {
        if (c < 0x20 || c == 0x7f) return "the name " + Quoted(name) + " holds a control character";
    }
    return {};
}

// Why the scanned path cannot be a snapshot's base path; "" when it can.
std::string BasePathProblem(std::string_view path) {
    const std::string shown = "the scanned path " + Quoted(path);
    if (path.empty()) return "the scanned directory has an empty name";
    if (!path.starts_with('/')) return shown + " is not absolute";
    if (path.back() == ' ') return shown + " ends in a blank";
    for (unsigned char c : path) {
        if (c < 0x20 || c == 0x7f) return shown + " holds a control character";
    }
    if (path == "/") return {};
    for (std::size_t start = 1; start <= path.size();) {
        std::size_t end = std::min(path.find('/', start), path.size());
        std::string_view part = path.substr(start, end - start);
        if (part.empty() || part == "." || part == "..") return shown + " is not a plain path (\"//\", \".\" or \"..\")";
        start = end + 1;
    }
    return {};
}

class Reader {
public:
    explicit Reader(NcduTree& tree) : tree_(tree) {}

    const std::string& Error() const { return error_; }
    bool Complete() const { return complete_; }

    // The JSON reader's events (nlohmann::json_sax).
    bool null() { return OnScalar(Scalar{}); }
    bool boolean(bool value) { return OnScalar(Scalar{.What = Scalar::Kind::Bool, .Bool = value}); }
    bool number_integer(Json::number_integer_t value) {
        return OnScalar(Scalar{.What = Scalar::Kind::Signed, .Signed = value});
    }
    bool number_unsigned(Json::number_unsigned_t value) {
        return OnScalar(Scalar{.What = Scalar::Kind::Unsigned, .Unsigned = value});
    }
    bool number_float(Json::number_float_t, const std::string&) { return OnScalar(Scalar{.What = Scalar::Kind::Float}); }
    bool string(std::string& value) { return OnScalar(Scalar{.What = Scalar::Kind::String, .Text = &value}); }
    bool binary(Json::binary_t&) { return Fail("not an ncdu JSON export"); }
    bool key(std::string& name) {
        if (skipped_ == 0) key_ = name;
        return true;
    }
    bool start_object(std::size_t) { return OnNested(true); }
    bool start_array(std::size_t) { return OnNested(false); }
    bool end_object() { return OnEnd(); }
    bool end_array() { return OnEnd(); }
    bool parse_error(std::size_t position, const std::string&, const nlohmann::detail::exception& e) {
        std::string what = e.what();
        if (std::size_t bracket = what.find("] "); bracket != std::string::npos) what.erase(0, bracket + 2);
        if (what.find("unexpected end of input") != std::string::npos) {
            return Fail("the export is cut short: it ends at byte " + std::to_string(position) +
                        (levels_.empty() ? std::string() : " before its last \"]\""));
        }
        if (what.find("UTF-8") != std::string::npos) {
            return Fail("a name or text is not valid UTF-8 (byte " + std::to_string(position) + ")");
        }
        return Fail("not valid JSON: " + what);
    }

private:
    enum class Context { Top, Metadata, Directory, Info };
    struct Level {
        Context What;
        std::size_t Seen = 0;        // elements of an array so far
        std::size_t Entry = 0;       // the directory or entry it describes
        std::size_t PathLength = 0;  // of path_ before this directory's name
    };

    bool Fail(std::string text) {
        if (error_.empty()) error_ = (path_.empty() ? std::string() : "in " + path_ + ": ") + std::move(text);
        return false;
    }

    std::size_t NewEntry(bool directory, std::size_t parent) {
        NcduEntry entry;
        entry.Directory = directory;
        if (!tree_.Entries.empty()) entry.Device = tree_.Entries[parent].Device;
        tree_.Entries.push_back(entry);
        return tree_.Entries.size() - 1;
    }

    // A directory's array or an entry's object begins.
    bool OnNested(bool object) {
        if (skipped_ > 0 || (!levels_.empty() && (levels_.back().What == Context::Metadata ||
                                                  levels_.back().What == Context::Info))) {
            if (!levels_.empty() && levels_.back().What == Context::Info && skipped_ == 0 && KnownField(key_)) {
                return Fail("the field " + Quoted(key_) + " of an entry holds " + (object ? "an object" : "an array"));
            }
            if (++skipped_ > kMaxSkippedDepth) return Fail("a field's value is nested too deeply");
            return true;
        }
        if (levels_.empty()) {
            if (object) return Fail(std::string("not an ncdu JSON export: it is an object; ") + kSupported);
            levels_.push_back({Context::Top});
            return true;
        }
        Level& level = levels_.back();
        const std::size_t position = level.Seen++;
        if (level.What == Context::Top) {
            if (position == 2 && object) return Push({Context::Metadata});
            if (position == 3 && !object) return EnterDirectory(NewEntry(true, 0));
            return Fail(std::string("not an ncdu JSON export: its top-level array is not [major, minor, metadata, "
                                    "tree]; ") + kSupported);
        }
        // A directory's array: its own info object, then its entries.
        const std::size_t parent = level.Entry;
        if (position == 0) {
            if (!object) return Fail("a directory's array does not begin with its info object");
            return Push({Context::Info, 0, parent});
        }
        if (object) {
            const std::size_t entry = NewEntry(false, parent);
            pending_[depth_ - 1].push_back(entry);
            return Push({Context::Info, 0, entry});
        }
        if (depth_ >= kMaxNcduDepth) {
            path_.clear();  // a path that deep says nothing
            return Fail("the tree is nested deeper than " + std::to_string(kMaxNcduDepth) + " directories");
        }
        const std::size_t entry = NewEntry(true, parent);
        pending_[depth_ - 1].push_back(entry);
        return EnterDirectory(entry);
    }

    bool Push(Level level) {
        key_.clear();
        levels_.push_back(level);
        return true;
    }

    bool EnterDirectory(std::size_t entry) {
        if (pending_.size() <= depth_) pending_.emplace_back();
        pending_[depth_].clear();
        ++depth_;
        return Push({Context::Directory, 0, entry, path_.size()});
    }

    bool OnEnd() {
        if (skipped_ > 0) {
            --skipped_;
            return true;
        }
        const Level level = levels_.back();
        levels_.pop_back();
        switch (level.What) {
            case Context::Top:
                if (level.Seen < 4) return Fail(std::string("not an ncdu JSON export: it holds no tree; ") + kSupported);
                complete_ = true;
                return true;
            case Context::Metadata: return true;
            case Context::Info: return FinishEntry(level.Entry);
            case Context::Directory: return FinishDirectory(level);
        }
        return true;
    }

    // An entry's object has ended: its name is checked, and a directory's
    // name joins the path its errors are told with.
    bool FinishEntry(std::size_t index) {
        NcduEntry& entry = tree_.Entries[index];
        if (!named_) return Fail("an entry has no name");
        named_ = false;
        const std::string_view name = tree_.Name(entry);
        if (index == 0) {
            if (std::string problem = BasePathProblem(name); !problem.empty()) return Fail(problem);
            // A trailing "/" names the same directory; the walk would drop it too.
            while (entry.NameLength > 1 && tree_.Names[entry.NameStart + entry.NameLength - 1] == '/') {
                --entry.NameLength;
            }
            path_ = tree_.Name(entry);
            return true;
        }
        if (std::string problem = NameProblem(name); !problem.empty()) return Fail(problem);
        if (entry.Directory && levels_.back().What == Context::Directory && levels_.back().Seen == 1) {
            if (path_ != "/") path_ += '/';
            path_ += name;
        }
        return true;
    }

    // A directory's array has ended: its entries are sorted by name, once each.
    bool FinishDirectory(const Level& level) {
        if (level.Seen == 0) return Fail("a directory's array is empty");
        std::vector<std::size_t>& children = pending_[--depth_];
        const auto name = [this](std::size_t i) { return tree_.Name(tree_.Entries[i]); };
        std::sort(children.begin(), children.end(), [&](std::size_t a, std::size_t b) { return name(a) < name(b); });
        auto twice = std::adjacent_find(children.begin(), children.end(),
                                        [&](std::size_t a, std::size_t b) { return name(a) == name(b); });
        if (twice != children.end()) return Fail("the name " + Quoted(name(*twice)) + " appears twice");
        NcduEntry& entry = tree_.Entries[level.Entry];
        entry.FirstChild = tree_.Children.size();
        entry.ChildCount = children.size();
        tree_.Children.insert(tree_.Children.end(), children.begin(), children.end());
        path_.resize(level.PathLength);
        return true;
    }

    static bool KnownField(std::string_view name) {
        for (std::string_view known : {"name", "asize", "dsize", "dev", "ino", "nlink", "hlnkc", "read_error",
                                       "excluded", "notreg", "mtime", "mode"}) {
            if (name == known) return true;
        }
        return false;
    }

    bool OnScalar(const Scalar& value) {
        if (skipped_ > 0) return true;
        if (levels_.empty()) return Fail(std::string("not an ncdu JSON export; ") + kSupported);
        Level& level = levels_.back();
        switch (level.What) {
            case Context::Top: return TopValue(level.Seen++, value);
            case Context::Metadata:
                if (key_ != "timestamp") return true;
                if (auto seconds = value.Whole(0, kLastSecond)) {
                    tree_.Timestamp = *seconds;
                    return true;
                }
                return Fail("the export's timestamp is not a time from 1970 to 9999 in seconds");
            case Context::Info: return SetField(tree_.Entries[level.Entry], value);
            case Context::Directory:
                return Fail("a directory holds a value that is neither an entry's object nor a directory's array");
        }
        return true;
    }

    bool TopValue(std::size_t position, const Scalar& value) {
        if (position == 0) {
            if (!value.IsWhole()) return Fail(std::string("not an ncdu JSON export; ") + kSupported);
            if (value.Whole(1, 1)) return true;
            const std::string major = value.What == Scalar::Kind::Unsigned ? std::to_string(value.Unsigned)
                                                                          : std::to_string(value.Signed);
            return Fail("the export's format major version is " + major + "; " + kSupported);
        }
        if (position == 1 && value.IsWhole()) return true;
        return Fail(std::string("not an ncdu JSON export: its top-level array is not [major, minor, metadata, tree]; ") +
                    kSupported);
    }

    bool SetField(NcduEntry& entry, const Scalar& value) {
        const std::string& field = key_;
        const auto notA = [&](const char* what) { return Fail("the field " + Quoted(field) + " of an entry is not " + what); };
        const auto whole = [&](std::int64_t hi, auto& into) {
            auto number = value.Whole(0, hi);
            if (!number) return notA("a whole number from 0");
            into = static_cast<std::remove_reference_t<decltype(into)>>(*number);
            return true;
        };
        const auto flag = [&](bool& into) {
            if (value.What != Scalar::Kind::Bool) return notA("true or false");
            into = value.Bool;
            return true;
        };
        constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
        if (field == "name") {
            if (value.What != Scalar::Kind::String) return notA("a text");
            if (named_) return Fail("an entry has two names");
            named_ = true;
            entry.NameStart = tree_.Names.size();
            entry.NameLength = value.Text->size();
            tree_.Names += *value.Text;
            return true;
        }
        if (field == "asize") return whole(kMax, entry.Asize);
        if (field == "dsize") return whole(kMax, entry.Dsize);
        if (field == "dev") {
            // A device number that does not fit is as good as another device.
            if (value.What == Scalar::Kind::Unsigned) entry.Device = value.Unsigned;
            return value.What == Scalar::Kind::Unsigned || whole(kMax, entry.Device);
        }
        if (field == "ino") {
            if (value.What == Scalar::Kind::Unsigned) entry.Inode = value.Unsigned;
            return value.What == Scalar::Kind::Unsigned || whole(kMax, entry.Inode);
        }
        if (field == "nlink") return whole(kMax, entry.Links);
        if (field == "mtime") {
            std::int64_t mtime = 0;
            if (!whole(kLastSecond, mtime)) return false;
            entry.Mtime = mtime;
            return true;
        }
        if (field == "mode") {
            unsigned mode = 0;
            if (!whole(0xFFFFFFFF, mode)) return false;
            entry.Mode = mode;
            return true;
        }
        if (field == "hlnkc") return flag(entry.HardLinked);
        if (field == "read_error") return flag(entry.ReadError);
        if (field == "notreg") return flag(entry.NotRegular);
        if (field == "excluded") return SetExcluded(entry, value);
        return true;  // uid, gid and fields of later versions say nothing a snapshot keeps
    }

    bool SetExcluded(NcduEntry& entry, const Scalar& value) {
        if (value.What == Scalar::Kind::Bool) {
            entry.Excluded = value.Bool ? NcduExclusion::Other : NcduExclusion::None;
            return true;
        }
        if (value.What != Scalar::Kind::String) return Fail("the field \"excluded\" of an entry is not a text");
        const std::string& why = *value.Text;
        entry.Excluded = why == "pattern"   ? NcduExclusion::Pattern
                         : why == "otherfs" || why == "othfs" ? NcduExclusion::OtherFileSystem
                         : why == "kernfs"  ? NcduExclusion::KernelFileSystem
                         : why == "frmlnk"  ? NcduExclusion::FirmLink
                                            : NcduExclusion::Other;
        return true;
    }

    NcduTree& tree_;
    std::vector<Level> levels_;
    std::vector<std::vector<std::size_t>> pending_;  // pending_[d]: the entries of the open directory at depth d
    std::size_t depth_ = 0;                          // directories open
    std::size_t skipped_ = 0;                        // depth within a value being skipped
    std::string key_;
    bool named_ = false;  // the open entry's object has had its name
    std::string path_;    // the open directory's path, for the errors
    std::string error_;
    bool complete_ = false;
};

}  // namespace

std::string ReadNcduExport(int fd, NcduTree& tree) {
    tree = NcduTree{};
    DescriptorBuffer buffer(fd);
    const std::string_view start = buffer.Start(8);
    if (buffer.Error() != 0) return std::string("cannot read the export: ") + std::strerror(buffer.Error());
    if (start.empty()) return "the export is empty";
    if (std::string foreign = ForeignFormat(start); !foreign.empty()) return foreign;

    Reader reader(tree);
    std::istream in(&buffer);
    const bool parsed = Json::sax_parse(in, &reader);
    if (buffer.Error() != 0) return std::string("cannot read the export: ") + std::strerror(buffer.Error());
    if (!reader.Error().empty()) return reader.Error();
    if (!parsed || !reader.Complete()) return "not an ncdu JSON export";
    return {};
}

}  // namespace corvina
