// Hot paths of compressed binary tables on the questionnaire layout of the table benchmark
// (an id, three Numbers with two decimals, forty 4-bit answers, texts of 10 and 20
// characters): record text conversion both ways, appends, and sequential scans.

#include <benchmark/benchmark.h>

#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "files/CBFFile.h"

namespace {

constexpr int kAnswers = 40;

KsFieldList QuestionnaireFields() {
    KsFieldList fields;
    auto add = [&](const std::string& name, char type, std::int16_t length, std::uint16_t bits,
                   std::int32_t divisor, std::int16_t precision) {
        auto field = std::make_unique<CBFField>();
        field->SetName(name.c_str());
        field->SetAttributes(0, type, length, precision, -1);
        field->SetNumberOfBits(bits);
        field->SetDivisor(divisor);
        fields.Add(std::move(field));
    };
    add("id", 'I', 0, 0, 0, 0);
    for (int i = 1; i <= 3; ++i) {
        add("amount" + std::to_string(i), 'N', 0, 0, 100, 2);
    }
    for (int i = 1; i <= kAnswers; ++i) {
        add("q" + std::to_string(i), 'U', 0, 4, 0, 0);
    }
    add("code", 'A', 10, 0, 0, 0);
    add("text", 'A', 20, 0, 0, 0);
    CBFFile::PackFields(nullptr, fields);
    return fields;
}

// The texts of record i.
std::vector<std::string> RecordTexts(int i) {
    std::vector<std::string> texts;
    texts.push_back(std::to_string(i));
    for (int k = 1; k <= 3; ++k) {
        texts.push_back(std::to_string((i * 37 + k) % 100000) + "." + std::to_string(i % 100));
    }
    for (int k = 0; k < kAnswers; ++k) {
        texts.push_back(std::to_string((i + k) % 16));
    }
    texts.push_back("C" + std::to_string(100000000 + i));
    texts.push_back("free text " + std::to_string(i));
    return texts;
}

struct Table {
    std::string name;
    std::unique_ptr<CBFFile> file;
    explicit Table(int records) {
        char pattern[] = "/tmp/bench_table_XXXXXX";
        name = std::string(mkdtemp(pattern)) + "/t";
        KsFieldList fields = QuestionnaireFields();
        file = std::make_unique<CBFFile>();
        file->Create(name.c_str(), fields, 0, false);
        file->Open(name.c_str(), IO_READ | IO_WRITE);
        auto record = file->GetNewRecord();
        for (int i = 0; i < records; ++i) {
            std::vector<std::string> texts = RecordTexts(i);
            for (std::size_t n = 0; n < texts.size(); ++n) {
                record->PutField(static_cast<std::int32_t>(n), texts[n].c_str());
            }
            file->DataAppend(*record);
        }
        file->Flush();
    }
    ~Table() {
        file.reset();
        for (const char* extension : {".cbf", ".kss"}) {
            std::remove((name + extension).c_str());
        }
        rmdir(name.substr(0, name.size() - 2).c_str());
    }
};

void BM_PutFieldsOfOneRecord(benchmark::State& state) {
    KsFieldList fields = QuestionnaireFields();
    KsVector<CBFBits> none;
    CBFRec record(fields, 66, none);
    std::vector<std::string> texts = RecordTexts(12345);
    for (auto _ : state) {
        for (std::size_t n = 0; n < texts.size(); ++n) {
            record.PutField(static_cast<std::int32_t>(n), texts[n].c_str());
        }
        benchmark::DoNotOptimize(record.GetBuffer());
    }
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(texts.size()));
}
BENCHMARK(BM_PutFieldsOfOneRecord);

void BM_GetFieldsOfOneRecord(benchmark::State& state) {
    KsFieldList fields = QuestionnaireFields();
    KsVector<CBFBits> none;
    CBFRec record(fields, 66, none);
    std::vector<std::string> texts = RecordTexts(12345);
    for (std::size_t n = 0; n < texts.size(); ++n) {
        record.PutField(static_cast<std::int32_t>(n), texts[n].c_str());
    }
    char text[64];
    for (auto _ : state) {
        for (std::int32_t n = 0; n < record.GetFieldCount(); ++n) {
            benchmark::DoNotOptimize(record.GetField(n, text, sizeof text));
        }
    }
    state.SetItemsProcessed(state.iterations() * record.GetFieldCount());
}
BENCHMARK(BM_GetFieldsOfOneRecord);

void BM_AppendRecords(benchmark::State& state) {
    Table table(0);
    auto record = table.file->GetNewRecord();
    for (auto _ : state) {
        table.file->DataAppend(*record);
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_AppendRecords);

// A full scan summing one answer and one Number field.
void BM_ScanSum(benchmark::State& state) {
    Table table(static_cast<int>(state.range(0)));
    auto record = table.file->GetNewRecord();
    for (auto _ : state) {
        double sum = 0;
        for (std::int32_t n = 1; n <= table.file->GetNumRecords(); ++n) {
            table.file->GotoRecord(n, record.get());
            sum += record->GetUnsignedShort(10) + record->GetNumber(1);
        }
        benchmark::DoNotOptimize(sum);
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_ScanSum)->Arg(100000);

}  // namespace

BENCHMARK_MAIN();
