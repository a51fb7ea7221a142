#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace tavrix::sim {

// Switchable faults, read by the front ends on every exchange.
struct SimFaults {
    std::atomic<bool> silent{false};       // answer nothing at all
    std::atomic<int> delayMs{0};           // wait before the first byte of each reply
    std::atomic<int> trickleMs{0};         // wait between the bytes of each reply
    std::atomic<bool> garbage{false};      // answer queries with random bytes (NULs too, no LF)
    std::atomic<int> dropTableAfter{-1};   // drop the connection after N lines of a table
    std::atomic<bool> refuseLines{false};  // refuse every command line (see SimResponse::refused)
    std::atomic<bool> refuseCommands{false};    // refuse every line that is not a query
    std::atomic<bool> refuseTableLines{false};  // refuse the lines of a table, not its ";"
    std::atomic<bool> noisy{false};  // input readings never settle, even after "syst:reseed"
};

// The answer to one received command line.
struct SimResponse {
    // Lines to send back, without terminators. A query line gives exactly one line (the replies
    // of its queries joined with ";"); a table gives its lines followed by a line ";".
    std::vector<std::string> lines;
    bool isTable = false;
    bool refused = false;  // the instrument did not accept the line
};

struct SimOptions {
    int modelCode = 28;  // 27..32, or anything else for an unknown instrument
    uint32_t seed = 1;
    // When positive, the number of inputs (up to 8) and of loops (up to 4) instead of the
    // model's own: a bench instrument that has every source the program can log.
    int inputs = 0;
    int loops = 0;
};

// The simulated temperature controller: keeps instrument state and answers the command
// language. Thread-safe: every front end may call Execute at the same time.
//
// Conventions kept stable for the tests and the demo:
// - every received line moves simulated time on by one second (thermal model, data log);
// - an unknown query, or a numeric query to an input or loop the model lacks, answers "0"; a
//   text query (NAME?, UNIT?) to a missing input or loop answers an empty field;
// - tables: "CALC? n" gives name, type, multiplier ("%f"), unit, then "%f     %f" points;
//   "PIDT n:TABLE?" gives the title then the entries as received; "DLog:Read?" gives records
//   "number,hh:mm:ss,temperature of each input"; each ends with a line ";";
// - "SENSORIX? n" (61..68: user curve n-60) answers the curve name, "SENSORIX n:NENTRY?" its
//   number of points; "CALC n" (1..8 or 61..68) takes name, type, multiplier, unit and point
//   lines "value temperature" up to ";" (a bad or 201st point, or any line holding ";", is
//   refused); "PIDT n:TABLE" takes a title and up to 16 entries "%f %f %f %f word" up to ";";
//   "PIDT n:NENT?" answers the number of entries, the title not counted;
// - "SIM:FAULT <name> <value>" / "SIM:FAULT CLEAR" and "SIM:APPLY <channel> <value>" (the
//   standard on a channel for "INPUT? x"; "SIM:FAULT NOISY 1" keeps readings from settling)
//   are control lines of the simulator, never answered.
class SimEngine {
public:
    explicit SimEngine(SimOptions options = {});
    ~SimEngine();
    SimEngine(const SimEngine&) = delete;
    SimEngine& operator=(const SimEngine&) = delete;

    // One line as received, without its terminators. Blank lines give an empty response.
    SimResponse Execute(std::string_view line);
    // True for the simulator's own control lines ("SIM:FAULT ...", "SIM:APPLY ...").
    static bool IsControlLine(std::string_view line);

    SimFaults& Faults() { return faults_; }
    int ModelCode() const;
    // Every line received, in order (for tests).
    std::vector<std::string> ReceivedLines() const;
    void ClearReceivedLines();

    // Bytes for the garbage fault, from the seeded generator (NULs included, never LF).
    std::string RandomBytes(size_t count);
    // True while the lines received are table data (after "CALC n" or "PIDT n:TABLE").
    bool InInputMode() const;

private:
    struct State;
    std::unique_ptr<State> state_;
    SimFaults faults_;
};

}  // namespace tavrix::sim
