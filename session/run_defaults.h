#pragma once

// The defaults and bounds of a run, one each for every front end and its --help.
constexpr int DEFAULT_JOBS = 32;  // keypads at once
constexpr int MOST_JOBS = 256;
constexpr int DEFAULT_STALL_TIMEOUT_SECONDS = 30;  // an update gives up on a keypad silent this long
constexpr int MOST_STALL_TIMEOUT_SECONDS = 86400;
constexpr int DEFAULT_RETRY_DELAY_MS = 5000;  // before the first retry, doubled for each one after
constexpr int MOST_RETRY_DELAY_MS = 3600 * 1000;
constexpr int MOST_RETRIES = 100;
