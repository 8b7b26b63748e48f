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
#include <cstdlib>
#include <fstream>
#include <map>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "KsIOListTestSupport.h"
#include "io/KsIOList.h"

namespace {

using Block = kstest::ListFileImage::Block;
using KsIOListFormat::ListPosition;

constexpr int kProcesses = 4;

// An element: who inserted it, its number, and bytes that only it has, with a checksum.
struct Element {
    std::uint32_t process = 0;
    std::uint32_t number = 0;

    std::string Bytes() const {
        std::string text(8 + (process * 7 + number) % 40, static_cast<char>('a' + number % 26));
        KsByteOrder::StoreLittle(text.data(), process);
        KsByteOrder::StoreLittle(text.data() + 4, number);
        std::uint32_t sum = 0;
        for (unsigned char c : text) {
            sum = sum * 31 + c;
        }
        char tail[4];
        KsByteOrder::StoreLittle(tail, sum);
        return text + std::string(tail, 4);
    }
    // Reads an element back from its object; false when the bytes are not one whole.
    bool Read(KsIOListObject& object) {
        char head[8];
        if (object.Read(head, 8, false) != 8) {
            return false;
        }
        process = KsByteOrder::LoadLittle<std::uint32_t>(head);
        number = KsByteOrder::LoadLittle<std::uint32_t>(head + 4);
        std::string expected = Bytes();
        std::string rest(expected.size() - 8, '\0');
        return process < kProcesses &&
               object.Read(rest.data(), static_cast<std::int32_t>(rest.size()), false) ==
                   static_cast<std::int32_t>(rest.size()) &&
               expected.substr(8) == rest;
    }
    std::uint64_t Id() const { return std::uint64_t{process} << 32 | number; }
};

// One process's share of the work, logged as "I list id", "D list id" or "E reason".
class Worker {
public:
    Worker(const std::string& path, std::uint32_t process, std::ostream& log)
        : file_(path.c_str(), IO_READ | IO_WRITE),
          process_(process),
          random_(process * 7919 + 1),
          log_(log) {}

    void Run(int operations) {
        for (int i = 0; i < operations; ++i) {
            int which = static_cast<int>(random_() % 2);
            int choice = static_cast<int>(random_() % 100);
            if (choice < 40) {
                Insert(which);
            } else if (choice < 60) {
                Drop(which);
            } else if (choice < 63) {
                Walk(which);
            } else {
                AllocateOrFree();
            }
        }
        while (!held_.empty()) {
            FreeHeld();
        }
    }

private:
    KsIOListBase::void_iterator WriterAt(KsIOList<void>& list, unsigned steps) {
        KsIOListBase::void_iterator it = list.begin(LOCK_WRITE);
        for (unsigned i = 0; i < steps && !it.AtEnd(); ++i) {
            ++it;
        }
        return it;
    }
    void Insert(int which) {
        KsIOList<void> list(file_, ListPosition(static_cast<std::uint64_t>(which)));
        KsIOListBase::void_iterator it = WriterAt(list, random_() % 8);
        Element element{process_, ++inserted_};
        std::string bytes = element.Bytes();
        list.InsertElement(it, bytes.data(), static_cast<std::uint32_t>(bytes.size()));
        log_ << "I " << which << " " << element.Id() << "\n";
    }
    void Drop(int which) {
        KsIOList<void> list(file_, ListPosition(static_cast<std::uint64_t>(which)));
        KsIOListBase::void_iterator it = WriterAt(list, random_() % 8);
        if (!it.AtEnd()) {
            Element element = ReadWhole(list, it);
            list.EraseElement(it);
            log_ << "D " << which << " " << element.Id() << "\n";
        }
    }
    void Walk(int which) {
        KsIOList<void> list(file_, ListPosition(static_cast<std::uint64_t>(which)));
        std::set<std::uint64_t> seen;
        for (KsIOListBase::void_iterator it = list.begin(); !it.AtEnd(); ++it) {
            if (!seen.insert(ReadWhole(list, it).Id()).second) {
                Fail("a walk met an element twice");
            }
        }
    }
    Element ReadWhole(KsIOList<void>& list, KsIOListBase::void_iterator& it) {
        KsIOListObject object;
        list.ReadElement(it, object);
        Element element;
        if (!element.Read(object)) {
            Fail("an element was not whole");
        }
        return element;
    }
    void AllocateOrFree() {
        if (held_.size() < 8 && random_() % 2 == 0) {
            Block block{0, 16 * (1 + random_() % 4)};
            block.offset = raw_.Allocate(block.size);
            file_.WriteTo(block.offset, Pattern(block).data(),
                          static_cast<std::int32_t>(block.size));
            held_.push_back(block);
        } else if (!held_.empty()) {
            FreeHeld();
        }
    }
    void FreeHeld() {
        Block block = held_.back();
        held_.pop_back();
        std::string bytes(block.size, '\0');
        file_.ReadFrom(block.offset, bytes.data(), static_cast<std::int32_t>(block.size), true);
        if (bytes != Pattern(block)) {
            Fail("a held block was changed by someone else");
        }
        raw_.Free(block.offset, block.size);
    }
    std::string Pattern(const Block& block) const {
        return std::string(block.size, static_cast<char>('A' + process_ * 5 + block.size / 16));
    }
    [[noreturn]] void Fail(const char* reason) {
        log_ << "E " << reason << "\n";
        log_.flush();
        _exit(1);
    }

    KsIOUnbuffered file_;
    std::uint32_t process_;
    std::mt19937 random_;
    std::ostream& log_;
    KsIOSimpleList<void> raw_{file_, ListPosition(0)};
    std::vector<Block> held_;
    std::uint32_t inserted_ = 0;
};

class KsIOListProcessTest : public kstest::ListFileTest {
protected:
    std::string LogOf(int process) const { return dir.File("worker" + std::to_string(process)); }

    // Runs the workers in forked children at once; their exit statuses.
    std::vector<int> RunWorkers(int operations) {
        std::vector<pid_t> children;
        for (int process = 0; process < kProcesses; ++process) {
            pid_t pid = fork();
            if (pid == 0) {
                std::ofstream log(LogOf(process));
                int status = 2;
                try {
                    Worker(path, static_cast<std::uint32_t>(process), log).Run(operations);
                    status = 0;
                } catch (const KsException& error) {
                    log << "E " << error.GetErrorMessage() << " / " << error.GetCallpath() << "\n";
                }
                log.flush();
                _exit(status);
            }
            children.push_back(pid);
        }
        // A deadlock must fail the test, not hang it: stragglers are killed.
        auto deadline =
            std::chrono::steady_clock::now() + std::chrono::seconds(60 + operations / 100);
        std::vector<int> statuses(children.size(), -1);
        std::size_t running = children.size();
        while (running > 0 && std::chrono::steady_clock::now() < deadline) {
            for (std::size_t i = 0; i < children.size(); ++i) {
                int status = 0;
                if (children[i] > 0 && waitpid(children[i], &status, WNOHANG) == children[i]) {
                    statuses[i] = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
                    children[i] = 0;
                    --running;
                }
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        for (pid_t pid : children) {
            if (pid > 0) {
                kill(pid, SIGKILL);
                waitpid(pid, nullptr, 0);
                ADD_FAILURE() << "a worker did not finish in time";
            }
        }
        return statuses;
    }
};

TEST_F(KsIOListProcessTest, ConcurrentChangesKeepEveryListAndBlockWhole) {
    Prepare(2);
    const char* configured = std::getenv("KSTEST_LIST_OPS");
    int operations = configured ? std::atoi(configured) : 1200;
    std::vector<int> statuses = RunWorkers(operations);

    std::map<std::uint64_t, int> expected;  // id -> list
    std::set<std::uint64_t> dropped;
    for (int process = 0; process < kProcesses; ++process) {
        EXPECT_EQ(statuses[static_cast<std::size_t>(process)], 0) << process;
        std::ifstream log(LogOf(process));
        std::string kind;
        int which = 0;
        std::uint64_t id = 0;
        while (log >> kind) {
            if (kind == "E") {
                std::string reason;
                std::getline(log, reason);
                ADD_FAILURE() << "process " << process << ":" << reason;
                continue;
            }
            log >> which >> id;
            if (kind == "I") {
                EXPECT_TRUE(expected.emplace(id, which).second) << id;
            } else {
                EXPECT_TRUE(dropped.insert(id).second) << "dropped twice: " << id;
            }
        }
    }
    for (std::uint64_t id : dropped) {
        EXPECT_EQ(expected.erase(id), 1u) << "dropped but never inserted: " << id;
    }
    std::map<std::uint64_t, int> found;
    for (int which = 0; which < 2; ++which) {
        KsIOList<void> list(file, ListPosition(static_cast<std::uint64_t>(which)));
        for (KsIOListBase::void_iterator it = list.begin(); !it.AtEnd(); ++it) {
            KsIOListObject object;
            list.ReadElement(it, object);
            Element element;
            ASSERT_TRUE(element.Read(object));
            EXPECT_TRUE(found.emplace(element.Id(), which).second) << "twice: " << element.Id();
        }
    }
    EXPECT_EQ(found, expected);
    EXPECT_GT(dropped.size(), 100u);
    ExpectSound({ListPosition(0), ListPosition(1)}, {});
}

}  // namespace
