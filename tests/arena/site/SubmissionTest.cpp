// Unpacking teams' uploads: good archives of each kind, and a table of hostile ones that must
// each be refused or bounded with a clear message and leave nothing behind anywhere.

#include "Submission.h"
#include "support/TempDir.h"

#include <archive.h>
#include <archive_entry.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <sstream>
#include <sys/stat.h>
#include <zlib.h>

namespace fs = std::filesystem;

namespace {

/// An archive written in memory, entry by entry, with whatever paths and types a test wants.
class ArchiveMaker {
public:
    explicit ArchiveMaker(bool zip = false, bool gzip = false) : m_writer(archive_write_new()) {
        if (zip) {
            archive_write_set_format_zip(m_writer);
        } else {
            archive_write_set_format_pax_restricted(m_writer);
        }
        if (gzip) {
            archive_write_add_filter_gzip(m_writer);
            archive_write_set_filter_option(m_writer, "gzip", "compression-level", "1");
        }
        archive_write_set_bytes_per_block(m_writer, 0);
        archive_write_open(m_writer, &m_bytes, nullptr, &ArchiveMaker::append, nullptr);
    }
    ~ArchiveMaker() { archive_write_free(m_writer); }
    ArchiveMaker(const ArchiveMaker&) = delete;
    ArchiveMaker& operator=(const ArchiveMaker&) = delete;

    ArchiveMaker& file(const std::string& path, const std::string& text, int mode = 0644) {
        return entry(
            path, AE_IFREG, mode,
            [&](archive_entry* e) {
                archive_entry_set_size(e, static_cast<la_int64_t>(text.size()));
            },
            text);
    }
    ArchiveMaker& folder(const std::string& path) { return entry(path, AE_IFDIR, 0755, {}); }
    ArchiveMaker& symlink(const std::string& path, const std::string& target) {
        return entry(path, AE_IFLNK, 0777,
                     [&](archive_entry* e) { archive_entry_set_symlink(e, target.c_str()); });
    }
    ArchiveMaker& hardlink(const std::string& path, const std::string& target) {
        return entry(path, AE_IFREG, 0644,
                     [&](archive_entry* e) { archive_entry_set_hardlink(e, target.c_str()); });
    }
    ArchiveMaker& device(const std::string& path, unsigned type) {
        return entry(path, type, 0644, [](archive_entry* e) { archive_entry_set_rdev(e, 259); });
    }
    std::string bytes() {
        archive_write_close(m_writer);
        return m_bytes;
    }

private:
    static la_ssize_t append(struct archive*, void* out, const void* data, size_t size) {
        static_cast<std::string*>(out)->append(static_cast<const char*>(data), size);
        return static_cast<la_ssize_t>(size);
    }
    ArchiveMaker& entry(const std::string& path, unsigned type, int mode,
                        const std::function<void(archive_entry*)>& more,
                        const std::string& text = "") {
        archive_entry* e = archive_entry_new();
        archive_entry_set_pathname(e, path.c_str());
        archive_entry_set_filetype(e, type);
        archive_entry_set_perm(e, static_cast<mode_t>(mode));
        if (more) {
            more(e);
        }
        archive_write_header(m_writer, e);
        if (!text.empty()) {
            archive_write_data(m_writer, text.data(), text.size());
        }
        archive_entry_free(e);
        return *this;
    }

    struct archive* m_writer;
    std::string m_bytes;
};

std::string gzipMember(const std::string& data) {
    z_stream z{};
    deflateInit2(&z, 9, Z_DEFLATED, 15 + 16, 9, Z_DEFAULT_STRATEGY);
    std::string out(deflateBound(&z, data.size()) + 64, '\0');
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    z.avail_in = static_cast<uInt>(data.size());
    z.next_out = reinterpret_cast<Bytef*>(out.data());
    z.avail_out = static_cast<uInt>(out.size());
    deflate(&z, Z_FINISH);
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}

/// A gzipped tar of one file of 1 GiB of zeros, about 1 MiB large: gzip members, which a
/// reader joins, each holding 1 MiB of zeros (compressing the whole GiB would take seconds).
std::string gigabyteOfZeros() {
    archive_entry* e = archive_entry_new();
    archive_entry_set_pathname(e, "run");
    archive_entry_set_filetype(e, AE_IFREG);
    archive_entry_set_size(e, la_int64_t{1} << 30);
    std::string header;
    struct archive* w = archive_write_new();
    archive_write_set_format_ustar(w);
    archive_write_set_bytes_per_block(w, 0);
    // Only the header is wanted: the writer is cut off before it pads out the promised data.
    archive_write_open(
        w, &header, nullptr,
        [](struct archive*, void* out, const void* data, size_t size) -> la_ssize_t {
            auto* bytes = static_cast<std::string*>(out);
            if (!bytes->empty()) {
                return -1;
            }
            bytes->append(static_cast<const char*>(data), size);
            return static_cast<la_ssize_t>(size);
        },
        nullptr);
    archive_write_header(w, e);
    archive_write_free(w);
    archive_entry_free(e);
    const std::string zeros = gzipMember(std::string(size_t{1} << 20, '\0'));
    std::string out = gzipMember(header.substr(0, 512));
    for (int i = 0; i < 1024; ++i) {
        out += zeros;
    }
    return out;
}

std::string manyFiles(int count) {
    ArchiveMaker maker(false, true);
    maker.file("run", "#!/bin/sh\n");
    for (int i = 0; i < count; ++i) {
        maker.file("f/" + std::to_string(i), "");
    }
    return maker.bytes();
}

std::string readFile(const fs::path& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

/// Every path below a folder, links not followed.
std::vector<std::string> listing(const fs::path& folder) {
    std::vector<std::string> paths;
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
        paths.push_back(entry.path().lexically_relative(folder).string());
    }
    std::sort(paths.begin(), paths.end());
    return paths;
}

class SubmissionTest : public ::testing::Test {
protected:
    // The bot's folder lies two levels down so that "..", "../.." and neighbours can be seen.
    SubmissionTest() : m_box(fs::path(m_dir.path()) / "bots"), m_bot(m_box / "team" / "v1") {
        fs::create_directories(m_box / "team");
    }
    // Unpacking is bounded at 4 MiB rather than the default 64 so that the bound is met fast.
    bool unpack(const std::string& archive, std::string& error) {
        Submission::Limits limits;
        limits.unpackedBytes = size_t{4} << 20;
        return Submission::unpack(archive, m_bot.string(), limits, error);
    }

    TempDir m_dir;
    fs::path m_box;
    fs::path m_bot;
};

TEST_F(SubmissionTest, UnpacksTarGzAndZipWithScriptsMadeExecutableAndInnerLinks) {
    for (const bool zip : {false, true}) {
        SCOPED_TRACE(zip ? "zip" : "tar.gz");
        ArchiveMaker maker(zip, !zip);
        maker.folder("./")
            .file("./run", "python3 bot.py\n")
            .file("build", "make\n")
            .file("src/bot.py", "print(1)\n")
            .symlink("bot.py", "src/bot.py");
        if (!zip) { // zip has no hard links
            maker.hardlink("src/copy.py", "src/bot.py");
        }
        std::string error;
        ASSERT_TRUE(unpack(maker.bytes(), error)) << error;
        std::vector<std::string> expected{"bot.py", "build", "run", "src", "src/bot.py"};
        if (!zip) {
            expected.push_back("src/copy.py");
            EXPECT_EQ(readFile(m_bot / "src/copy.py"), "print(1)\n");
        }
        EXPECT_EQ(listing(m_bot), expected);
        EXPECT_EQ(readFile(m_bot / "bot.py"), "print(1)\n");
        EXPECT_EQ(fs::status(m_bot / "run").permissions() & fs::perms::owner_exec,
                  fs::perms::owner_exec);
        EXPECT_EQ(fs::status(m_bot / "build").permissions() & fs::perms::owner_exec,
                  fs::perms::owner_exec);
        fs::remove_all(m_bot);
    }
}

TEST_F(SubmissionTest, RefusesHostileArchivesAndLeavesNothingAnywhere) {
    const std::string outside = (fs::path(m_dir.path()) / "outside").string();
    struct Case {
        const char* name;
        std::function<std::string()> archive;
        const char* message;
    };
    const std::vector<Case> cases{
        {"path traversal",
         [] { return ArchiveMaker().file("run", "x").file("../../evil", "x").bytes(); },
         "'../../evil' is an absolute path or leaves the bot's folder"},
        {"absolute path",
         [&] { return ArchiveMaker().file("run", "x").file(outside, "x").bytes(); },
         "is an absolute path or leaves the bot's folder"},
        {"symlink out",
         [] { return ArchiveMaker().file("run", "x").symlink("up", "../..").bytes(); },
         "the link 'up' points outside its folder"},
        {"symlink to an absolute path",
         [&] { return ArchiveMaker().file("run", "x").symlink("abs", outside).bytes(); },
         "the link 'abs' points outside its folder"},
        {"write through an inner link",
         [] {
             return ArchiveMaker().file("run", "x").symlink("d", "run").file("d/x", "x").bytes();
         },
         "'d/x' goes through a link or a file"},
        {"hard link to a file outside",
         [] {
             return ArchiveMaker().file("run", "x").hardlink("pw", "../../../etc/passwd").bytes();
         },
         "the hard link 'pw' does not name a file unpacked before it"},
        {"character device",
         [] { return ArchiveMaker().file("run", "x").device("tty", AE_IFCHR).bytes(); },
         "'tty' is a device file, FIFO or socket"},
        {"FIFO", [] { return ArchiveMaker().file("run", "x").device("pipe", AE_IFIFO).bytes(); },
         "'pipe' is a device file, FIFO or socket"},
        {"1 GiB of zeros compressed", gigabyteOfZeros, "the archive unpacks to more than 4 MiB"},
        {"100,000 files", [] { return manyFiles(100000); },
         "the archive holds more than 2000 entries"},
        {"long path",
         [] { return ArchiveMaker().file("run", "x").file(std::string(300, 'a'), "x").bytes(); },
         "an entry's path is longer than 240 bytes"},
        {"the same file twice",
         [] { return ArchiveMaker().file("run", "x").file("run", "y").bytes(); },
         "cannot create 'run'"},
        {"no run file", [] { return ArchiveMaker().file("bot.py", "x").bytes(); },
         "the archive holds no file 'run' at its top"},
        {"not an archive", [] { return std::string("just some text, not a tar"); },
         "not a tar or zip archive"},
        {"larger than the upload limit", [] { return std::string((size_t{16} << 20) + 1, 'x'); },
         "the archive is larger than 16 MiB"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string error;
        EXPECT_FALSE(unpack(c.archive(), error));
        EXPECT_NE(error.find(c.message), std::string::npos) << error;
        EXPECT_EQ(listing(m_dir.path()), (std::vector<std::string>{"bots", "bots/team"}));
    }
    EXPECT_FALSE(fs::exists("/evil"));
}

TEST_F(SubmissionTest, RefusesAFolderThatExistsAlready) {
    fs::create_directories(m_bot);
    std::string error;
    EXPECT_FALSE(unpack(ArchiveMaker().file("run", "x").bytes(), error));
    EXPECT_EQ(error, m_bot.string() + " exists already");
    EXPECT_TRUE(fs::exists(m_bot));
}

} // namespace

TEST_F(SubmissionTest, RemovesOnlyFoldersNoSubmissionOwnsAndNeverFollowsLinks) {
    const fs::path outside = fs::path(m_dir.path()) / "outside";
    fs::create_directories(outside / "keep");
    for (const char* name : {"v1", "v2", "stray"}) {
        fs::create_directories(m_box / "team" / name / "src");
        std::ofstream(m_box / "team" / name / "src" / "f") << "x";
    }
    fs::create_directories(m_box / "other" / "stray2");
    fs::create_directory_symlink(outside, m_box / "team" / "link");
    fs::create_directory_symlink(outside, m_box / "linkteam");
    // The recorded paths are spelled differently from the walk's: only their last two names
    // count.
    const std::set<std::string> owned{(m_box / "." / "team" / "v1").string(), "/elsewhere/team/v2"};
    EXPECT_EQ(Submission::removeUnowned(m_box.string(), owned), 3u);
    EXPECT_EQ(listing(m_box), (std::vector<std::string>{"linkteam", "other", "team", "team/v1",
                                                        "team/v1/src", "team/v1/src/f", "team/v2",
                                                        "team/v2/src", "team/v2/src/f"}));
    EXPECT_TRUE(fs::exists(outside / "keep"));
    EXPECT_EQ(Submission::removeUnowned((m_box / "none").string(), owned), 0u);
}
