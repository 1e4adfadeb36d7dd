#pragma once
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "record_sender.h"

// A run's records sent on to its database (`url`, checked already): the
// password from the password file, else from `askPassword` (none: nothing
// asked), the sender started on `log`, and its first connection awaited a
// few seconds at most. 0 with `error` when the server turns it down for good
// (no such host, user or database, a wrong password), before any keypad is
// sent anything; a server that does not answer is no refusal: the records
// wait for it.
int StartRecordSender(const std::string& url, const std::string& log, const std::string& program,
                      const std::function<std::string()>& askPassword, std::unique_ptr<CRecordSender>& sender,
                      std::string& error);

// What the end of a run says of the records still waiting, and how to send them.
std::string WaitingRecordsNote(const CRecordSender& sender, size_t waiting, const std::string& log,
                               const std::string& url);

// What the end of a run says of the records the server would not take; empty: none.
std::string RefusedRecordsNote(const CRecordSender& sender, const std::string& log);

// Both, as far as either has something to say, once the sender has finished (`waiting` left).
std::vector<std::string> EndOfRunNotes(const CRecordSender& sender, size_t waiting, const std::string& log,
                                       const std::string& url);

// records push: each log's records the table lacks. 0 with `error` when the
// database or a log cannot be used (what went in before stays: sending again
// sends only the rest).
struct PushCount {
    std::string log;
    size_t records = 0;
    size_t sent = 0;
};
int PushRecords(const std::string& url, const std::vector<std::string>& logs, std::vector<PushCount>& counts,
                std::string& error);
