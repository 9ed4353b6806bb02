// The output file of exports and reports: what each kind of name ends up as after a
// write, links, devices, FIFOs and open descriptors included, and what an abandoned or
// failed write leaves behind.
#include "platform/file_io.h"
#include "temp_root.h"

#include <fcntl.h>
#include <functional>
#include <gtest/gtest.h>
#include <set>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;
using keldo::platform::OutputFile;
using keldo::platform::testing::makeTemporaryFolder;
using keldo::platform::testing::readBytes;
using keldo::platform::testing::writeBytes;

namespace {

const std::string kBytes = "linha 1\r\nlinha 2\r\n";

std::set<std::string> entries(const fs::path& folder) {
    std::set<std::string> names;
    for (const auto& e : fs::directory_iterator(folder))
        names.insert(e.path().filename().string());
    return names;
}

// What can be read from fd until its writers are gone or, when it does not wait,
// until nothing is left.
std::string drain(int fd) {
    std::string got;
    char buffer[256];
    ssize_t n;
    while ((n = ::read(fd, buffer, sizeof buffer)) > 0)
        got.append(buffer, std::size_t(n));
    return got;
}

// Two folders of one test: where the name is given, and somewhere else that links
// may point to.
class OutputFileTest : public ::testing::Test {
protected:
    fs::path here = makeTemporaryFolder();
    fs::path elsewhere = makeTemporaryFolder();
    void TearDown() override {
        fs::remove_all(here);
        fs::remove_all(elsewhere);
    }
    static void write(const fs::path& name, const std::string& bytes = kBytes) {
        OutputFile f(name);
        f.write(bytes.substr(0, 5));
        f.write(bytes.substr(5));
        f.commit();
    }
};

// Regular files and names of nothing are replaced through a temporary file beside the
// real file: links stay links, the file they lead to gets the bytes, nothing else is left.
TEST_F(OutputFileTest, FilesAreReplacedBesideTheirRealPlace) {
    const struct {
        const char* what;
        std::function<fs::path(const fs::path& here, const fs::path& elsewhere)> make;
        const char* lands; // below elsewhere when it starts with '>', else below here
        std::set<std::string> hereAfter, elsewhereAfter;
    } cases[] = {
        {"a new file", [](auto& h, auto&) { return h / "novo.txt"; }, "novo.txt", {"novo.txt"}, {}},
        {"an existing file",
         [](auto& h, auto&) {
             writeBytes(h / "velho.txt", "antigo, mais longo que o novo conteúdo do arquivo");
             return h / "velho.txt";
         },
         "velho.txt",
         {"velho.txt"},
         {}},
        {"a link to a file in another folder",
         [](auto& h, auto& e) {
             writeBytes(e / "real.txt", "antigo");
             fs::create_symlink(e / "real.txt", h / "link.txt");
             return h / "link.txt";
         },
         ">real.txt",
         {"link.txt"},
         {"real.txt"}},
        {"a relative link to a file that does not exist yet",
         [](auto& h, auto& e) {
             fs::create_directory(h / "sub");
             fs::create_symlink(fs::relative(e / "futuro.txt", h / "sub"), h / "sub" / "l.txt");
             return h / "sub" / "l.txt";
         },
         ">futuro.txt",
         {"sub"},
         {"futuro.txt"}},
        {"a link to a link",
         [](auto& h, auto& e) {
             writeBytes(e / "real.txt", "antigo");
             fs::create_symlink(e / "real.txt", e / "meio.txt");
             fs::create_symlink(e / "meio.txt", h / "link.txt");
             return h / "link.txt";
         },
         ">real.txt",
         {"link.txt"},
         {"meio.txt", "real.txt"}},
        {"a file in a linked folder",
         [](auto& h, auto& e) {
             fs::create_directory_symlink(e, h / "pasta");
             return h / "pasta" / "f.txt";
         },
         ">f.txt",
         {"pasta"},
         {"f.txt"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove_all(here);
        fs::remove_all(elsewhere);
        fs::create_directories(here);
        fs::create_directories(elsewhere);
        const fs::path name = c.make(here, elsewhere);
        const fs::path lands = c.lands[0] == '>' ? elsewhere / (c.lands + 1) : here / c.lands;
        const auto linkBefore = fs::is_symlink(name) ? fs::read_symlink(name) : fs::path();
        if (fs::exists(lands))
            fs::permissions(lands, fs::perms(0640));
        EXPECT_FALSE(keldo::platform::resolveOutputTarget(name).inPlace);
        write(name);
        EXPECT_EQ(readBytes(lands), kBytes);
        EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(lands)));
        if (!linkBefore.empty()) {
            EXPECT_EQ(fs::read_symlink(name), linkBefore) << "the link stays the same link";
        }
        if (c.hereAfter.contains("velho.txt") || c.elsewhereAfter.contains("real.txt")) {
            EXPECT_EQ(fs::status(lands).permissions(), fs::perms(0640));
        }
        EXPECT_EQ(entries(here), c.hereAfter);
        EXPECT_EQ(entries(elsewhere), c.elsewhereAfter);
    }
}

// A device, a FIFO or a descriptor is written where it is and stays what it was.
TEST_F(OutputFileTest, DevicesFifosAndDescriptorsAreWrittenInPlace) {
    // A FIFO behind a link: its reader receives the bytes.
    const fs::path fifo = elsewhere / "canal";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    fs::create_symlink(fifo, here / "saida.txt");
    // The reader opens first, without waiting; the bytes fit the FIFO's buffer, so
    // they are read afterwards. A FIFO replaced by a file would give nothing.
    const int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    write(here / "saida.txt");
    std::string received = drain(reader);
    ::close(reader);
    EXPECT_EQ(received, kBytes);
    EXPECT_TRUE(fs::is_fifo(fifo));
    EXPECT_TRUE(fs::is_symlink(here / "saida.txt"));

    // /dev/full takes nothing: the write fails and the device stays a device.
    fs::create_symlink("/dev/full", here / "cheio.txt");
    EXPECT_TRUE(keldo::platform::resolveOutputTarget(here / "cheio.txt").inPlace);
    try {
        write(here / "cheio.txt");
        ADD_FAILURE() << "wrote into /dev/full";
    } catch (const std::system_error& e) {
        EXPECT_EQ(e.code().value(), ENOSPC);
    }
    EXPECT_TRUE(fs::is_character_file("/dev/full"));
    write("/dev/null");
    EXPECT_TRUE(fs::is_character_file("/dev/null"));

    // A descriptor on a pipe (as /dev/stdout is under "| less"): the pipe gets it.
    int pipeEnds[2];
    ASSERT_EQ(::pipe(pipeEnds), 0);
    write("/dev/fd/" + std::to_string(pipeEnds[1]));
    ::close(pipeEnds[1]);
    received = drain(pipeEnds[0]);
    ::close(pipeEnds[0]);
    EXPECT_EQ(received, kBytes);

    // A descriptor the shell opened on a file ("> f" or ">> f") is continued.
    writeBytes(here / "redirecionado", "antes\n");
    const int fd = ::open((here / "redirecionado").c_str(), O_WRONLY | O_APPEND);
    ASSERT_GE(fd, 0);
    struct stat before {};
    ::fstat(fd, &before);
    write("/proc/self/fd/" + std::to_string(fd));
    ::close(fd);
    struct stat after {};
    ::stat((here / "redirecionado").c_str(), &after);
    EXPECT_EQ(after.st_ino, before.st_ino) << "the file the shell opened, not a new one";
    EXPECT_EQ(readBytes(here / "redirecionado"), "antes\n" + kBytes);
    EXPECT_EQ(entries(here), (std::set<std::string>{"cheio.txt", "redirecionado", "saida.txt"}));
}

TEST_F(OutputFileTest, FailuresAndAbandonedWritesLeaveTheTargetAsItWas) {
    writeBytes(here / "f.txt", "antigo");
    {
        OutputFile f(here / "f.txt");
        f.write("novo");
    } // abandoned
    EXPECT_EQ(readBytes(here / "f.txt"), "antigo");
    EXPECT_EQ(entries(here), std::set<std::string>{"f.txt"});

    const struct {
        const char* what;
        fs::path name;
        int error;
    } refused[] = {
        {"a folder", here, EISDIR},
        {"a link to a folder", elsewhere / "pasta", EISDIR},
        {"a missing folder", here / "nada" / "f.txt", ENOENT},
        {"an empty name", fs::path(), ENOENT},
        {"a link to itself", elsewhere / "laço", ELOOP},
    };
    fs::create_directory_symlink(here, elsewhere / "pasta");
    fs::create_symlink(elsewhere / "laço", elsewhere / "laço");
    for (const auto& c : refused) {
        SCOPED_TRACE(c.what);
        try {
            OutputFile f(c.name);
            ADD_FAILURE() << "opened";
        } catch (const std::system_error& e) {
            EXPECT_EQ(e.code().value(), c.error) << e.what();
        }
    }
    EXPECT_EQ(entries(here), std::set<std::string>{"f.txt"});
}

} // namespace
