// A shift's report from hand-written logs of both kinds: units, not attempts.
#include "program_test.h"

namespace {

class ReportE2E : public ProgramTest {};

std::string Record(const std::string& fields, const std::string& start, const char* outcome, int attempt,
                   const char* text = "Firmare update complete") {
    return "{\"type\":\"result\"," + fields + ",\"attempt\":" + std::to_string(attempt) +
           ",\"command\":\"firmware\",\"file\":\"/line/app-2.4.s\",\"sha256\":\"0ed89c666607aa\",\"outcome\":\"" +
           outcome + "\",\"last_text\":\"" + text + "\",\"start\":\"2026-12-0" + start + "Z\",\"seconds\":60}\n";
}

TEST_F(ReportE2E, UnitsNotAttemptsAcrossLogsOldAndNew) {
    // A log from before stations and serials: a port retried to ok is one ok unit; a third failed.
    std::ofstream(dir / "old.jsonl") << Record("\"port\":\"/dev/ttyUSB0\"", "8T08:00:00.000", "ok", 1)
                                     << Record("\"port\":\"/dev/ttyUSB1\"", "8T08:00:00.000", "failed", 1,
                                               "Got \\\"Failed\\\" back from keypad.")
                                     << Record("\"port\":\"/dev/ttyUSB1\"", "8T08:02:00.000", "ok", 2)
                                     << Record("\"port\":\"/dev/ttyUSB2\"", "8T08:00:00.000", "failed", 1, "Erase failed");
    // A bench's: named slots, a serial updated twice, a failure, and a unit begun and never ended.
    const std::string a = "\"port\":\"COM3\",\"unit\":\"Jig A\",\"station\":\"line-3\"";
    std::ofstream(dir / "bench.jsonl") << Record(a + ",\"serial\":\"KP0042\"", "9T09:00:00.000", "ok", 1)
                                       << Record(a + ",\"serial\":\"KP0042\"", "9T09:05:00.000", "ok", 1)
                                       << Record(a + ",\"serial\":\"KP0043\"", "9T09:10:00.000", "incomplete", 1,
                                                 "No response from ORBIX, \\\"x\\\"")
                                       << "not a record\n"
                                       << "{\"type\":\"begin\"," + a +
                                              ",\"attempt\":1,\"start\":\"2026-12-09T09:20:00.000Z\"}\n";
    const std::string old = (dir / "old.jsonl").string(), bench = (dir / "bench.jsonl").string();
    ScopedEnv utc("TZ", "UTC");

    ProcessResult text = RunProgram({FLASH, "report", old, bench}, 10);
    EXPECT_EQ(text.exitCode, 0) << text.output;
    EXPECT_TRUE(Has(text.output, "units 7: ok 4, failed 1, incomplete 2, interrupted 0; yield 57.1%")) << text.output;
    EXPECT_TRUE(Has(text.output, "left out 1 line that holds no record")) << text.output;
    EXPECT_TRUE(Has(text.output, "line-3 / Jig A")) << text.output;
    EXPECT_TRUE(Has(text.output, "2026-12-08                       units     3  ok     2  failed    1")) << text.output;
    EXPECT_TRUE(Has(text.output, "KP0042                   2 units")) << text.output;
    EXPECT_TRUE(Has(text.output, "no end in the log: cut off, or still running")) << text.output;

    ProcessResult csv = RunProgram({FLASH, "report", "--csv", old, bench}, 10);
    EXPECT_TRUE(Has(csv.output,
                    "2026-12-08T08:00:00.000Z,,/dev/ttyUSB1,/dev/ttyUSB1,,,firmware,/line/app-2.4.s,"
                    "0ed89c666607aa,ok,2,180.0,Firmare update complete\r\n"))
        << csv.output;
    EXPECT_TRUE(Has(csv.output, "incomplete,1,60.0,\"No response from ORBIX, \"\"x\"\"\"\r\n")) << csv.output;

    ProcessResult json = RunProgram({FLASH, "report", "--json", bench}, 10);
    EXPECT_TRUE(Has(json.output, "\"repeated_serials\":[{\"count\":2,\"serial\":\"KP0042\"}]")) << json.output;
    EXPECT_EQ(RunProgram({FLASH, "report", (dir / "absent").string()}, 10).exitCode, 2);
}

}  // namespace
