#pragma once

namespace sorvane
{

// What SIGTERM, SIGINT, SIGHUP and SIGQUIT mean to Sorvane: finish the move under way, stop
// before the next file as Cancel does, and quit. The handler only records the signal and wakes
// the program's loop; a second signal while no move is under way ends the program at once, for a
// program stuck where nothing looks at the first.
//
// The handler may run on any thread (Qt's own threads take process signals too). It and the
// moving thread agree through two flags in sequentially consistent order: the handler sets
// "pending" and then reads "moving", a move sets "moving" and then reads "pending" before its
// first step. So either the handler sees the move and leaves it to finish, or the move sees the
// signal and does not begin.
void InstallStopPolicy();

// Whether a termination signal has come; the number of the first one, else 0.
bool StopRequested();
int StopSignal();

// Readable once a stop has been requested; -1 before InstallStopPolicy. A loop watches it to
// wake up and quit.
int StopWakeDescriptor();

// Ends the process as the first termination signal would have, once the program has finished
// what it does on a stop. Returns only when no signal came.
void FinishStop();

// Held by a move for as long as it takes, from before its first step to after its last.
// began() is false when a stop came first: then the move must not take its first step.
class MoveUnderWay
{
public:
    MoveUnderWay();
    ~MoveUnderWay();
    MoveUnderWay(const MoveUnderWay&) = delete;
    MoveUnderWay& operator=(const MoveUnderWay&) = delete;

    bool began() const { return m_began; }

private:
    bool m_began;
};

// For tests: forgets a stop that came, as if none had.
void ForgetStopForTesting();

} // namespace sorvane
