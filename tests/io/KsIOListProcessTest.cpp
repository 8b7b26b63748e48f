// Several processes change one list file at once: inserts, drops and walks on the same
// lists, allocations and frees of blocks of their own. Afterwards every inserted element is
// in its list exactly once, no dropped one remains, every block is in use or free exactly
// once, and no walker ever read an element that was not whole. KSTEST_LIST_OPS sets the
// operations per process (default 1200) for longer runs.

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <map>
#include <random>
#include <set>
#include <thread>

#include "KsIOListTestSupport.h"

namespace {

using kstest::Block;
using Iterator = KsIOListBase::void_iterator;

// An element's bytes: its id, bytes that depend on it, its id again.
std::string ElementBytes(std::uint64_t id) {
    std::string edge = kstest::Words({id});
    return edge + std::string(id % 40, static_cast<char>(id)) + edge;
}

// The id of the element `it` stands on; throws unless the element is whole.
std::uint64_t ReadId(KsIOList<void>& list, Iterator& it) {
    KsIOListObject object;
    list.ReadElement(it, object);
    std::string bytes(static_cast<const char*>(object.GetData()), object.GetSize());
    std::uint64_t id = KsByteOrder::LoadLittle<std::uint64_t>(bytes.data());
    if (bytes.compare(0, ElementBytes(id).size(), ElementBytes(id)) != 0) {
        throw std::runtime_error("an element was not whole");
    }
    return id;
}

// Keeps a block of its own: its bytes must stay those the process wrote.
struct Held {
    KsIOInterface& file;
    std::uint64_t owner;
    Block block;
    std::string Bytes() const {
        return std::string(block.size, static_cast<char>(block.offset / 16 * 5 + owner));
    }
    bool Intact() const {
        std::string bytes = Bytes();
        file.ReadFrom(block.offset, bytes.data(), static_cast<int>(bytes.size()), true);
        return bytes == Bytes();
    }
};

// One process's share of the work, logged as "I list id" and "D list id".
void Work(const std::string& path, std::uint64_t process, std::uint64_t operations,
          std::ostream& log) {
    KsIOUnbuffered file(path.c_str(), IO_READ | IO_WRITE);
    KsIOSimpleList<void> raw(file, 16);
    std::mt19937 random(static_cast<unsigned>(process));
    std::vector<Held> held;
    auto freeOne = [&] {
        if (!held.back().Intact()) {
            throw std::runtime_error("a held block was changed by someone else");
        }
        raw.Free(held.back().block.offset, held.back().block.size);
        held.pop_back();
    };
    for (std::uint64_t i = 0, id = process << 32; i < operations; ++i, ++id) {
        std::uint64_t which = random() % 2, choice = random() % 100;
        KsIOList<void> list(file, 16 + 8 * which);
        Iterator it = list.begin(choice < 60 ? LOCK_WRITE : LOCK_READ);
        for (unsigned step = random() % 8; choice < 60 && step > 0 && !it.AtEnd(); --step) {
            ++it;
        }
        std::string bytes = ElementBytes(id);
        if (choice < 40) {
            list.InsertElement(it, bytes.data(), static_cast<std::uint32_t>(bytes.size()));
            log << "I " << which << " " << id << "\n";
        } else if (choice < 60 && !it.AtEnd()) {
            log << "D " << which << " " << ReadId(list, it) << "\n";
            list.EraseElement(it);
        } else if (choice < 63) {
            for (std::set<std::uint64_t> seen; !it.AtEnd(); ++it) {
                if (!seen.insert(ReadId(list, it)).second) {
                    throw std::runtime_error("a walk met an element twice");
                }
            }
        } else if (choice >= 60 && held.size() < 8 && random() % 2 == 0) {
            it.Release();
            Held block{file, process, {0, 16 * (1 + random() % 4)}};
            block.block.offset = raw.Allocate(block.block.size);
            file.WriteTo(block.block.offset, block.Bytes().data(),
                         static_cast<int>(block.block.size));
            held.push_back(block);
        }
        if (!held.empty() && choice % 7 == 0) {
            freeOne();
        }
    }
    while (!held.empty()) {
        freeOne();
    }
}

class KsIOListProcessTest : public kstest::ListFileTest {
protected:
    // Runs the workers in forked children at once; a deadlock fails, it does not hang.
    void RunWorkers(int processes, int operations) {
        std::vector<pid_t> children;
        for (int process = 0; process < processes; ++process) {
            if (pid_t pid = fork(); pid != 0) {
                children.push_back(pid);
                continue;
            }
            std::ofstream log(dir.File("worker" + std::to_string(process)));
            try {
                Work(path, static_cast<std::uint64_t>(process),
                     static_cast<std::uint64_t>(operations), log);
                log.flush();
                _exit(0);
            } catch (const KsException& error) {
                log << "E " << error.GetErrorMessage() << "\n";
            } catch (const std::exception& error) {
                log << "E " << error.what() << "\n";
            }
            log.flush();
            _exit(1);
        }
        auto deadline =
            std::chrono::steady_clock::now() + std::chrono::seconds(60 + operations / 100);
        for (pid_t pid : children) {
            int status = -1;
            while (waitpid(pid, &status, WNOHANG) == 0 &&
                   std::chrono::steady_clock::now() < deadline) {
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            }
            if (std::chrono::steady_clock::now() >= deadline) {
                kill(pid, SIGKILL);
                waitpid(pid, &status, 0);
            }
            EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "worker " << pid;
        }
    }
};

TEST_F(KsIOListProcessTest, ConcurrentChangesKeepEveryListAndBlockWhole) {
    Prepare(2);
    const char* configured = std::getenv("KSTEST_LIST_OPS");
    RunWorkers(4, configured ? std::atoi(configured) : 1200);

    std::map<std::uint64_t, int> expected;  // id -> list
    std::set<std::uint64_t> dropped;
    for (int process = 0; process < 4; ++process) {
        std::ifstream log(dir.File("worker" + std::to_string(process)));
        std::string kind, rest;
        for (int which = 0; log >> kind;) {
            std::uint64_t id = 0;
            if (kind == "E" && std::getline(log, rest)) {
                ADD_FAILURE() << "worker " << process << ":" << rest;
            } else if (log >> which >> id && kind == "I") {
                EXPECT_TRUE(expected.emplace(id, which).second) << id;
            } else {
                EXPECT_TRUE(dropped.insert(id).second) << "dropped twice: " << id;
            }
        }
    }
    for (std::uint64_t id : dropped) {
        EXPECT_EQ(expected.erase(id), 1u) << "dropped, never inserted: " << id;
    }
    std::map<std::uint64_t, int> found;
    for (int which = 0; which < 2; ++which) {
        KsIOList<void> list(file, 16 + 8 * static_cast<std::uint64_t>(which));
        for (Iterator it = list.begin(); !it.AtEnd(); ++it) {
            EXPECT_TRUE(found.emplace(ReadId(list, it), which).second);
        }
    }
    EXPECT_EQ(found, expected);
    EXPECT_GT(dropped.size(), 100u);
    ExpectSound({16, 24}, {});
}

}  // namespace
