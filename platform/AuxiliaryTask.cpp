#include "platform/AuxiliaryTask.h"

#include "platform/Audio.h"

#include <pthread.h>
#include <semaphore.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

// Offline: a schedule only marks the task; the audio loop runs it between blocks.
std::atomic<bool> gInStep{false};

struct Task {
    void (*callback)(void*) = nullptr;
    void* arg = nullptr;
    int priority = 0;
    std::string name;
    std::atomic<bool> pending{false};
    std::atomic<bool> quit{false};
    sem_t wake{};
    std::thread thread;
    bool threaded = false;

    void run() {
        // A schedule that arrives while callback runs sets pending again,
        // which gives exactly one more run.
        pending.store(false, std::memory_order_seq_cst);
        callback(arg);
    }
};

struct TaskRegistry {
    std::mutex mutex;  // guards the list; never taken on the audio thread in real time
    std::vector<std::unique_ptr<Task>> tasks;
    bool threaded = true;
    bool realTimePriorities = false;
};

TaskRegistry& registry() {
    static TaskRegistry r;
    return r;
}

void threadMain(Task* task) {
    Bela_setFlushToZero();
    pthread_setname_np(pthread_self(), task->name.substr(0, 15).c_str());
    for (;;) {
        while (sem_wait(&task->wake) != 0) {
        }
        if (task->quit.load(std::memory_order_acquire))
            return;
        // A schedule that met the hand-back to free running may be posted
        // twice: the second wake finds nothing pending and runs nothing.
        if (task->pending.exchange(false, std::memory_order_seq_cst))
            task->callback(task->arg);
    }
}

// Called with the registry's lock held.
void runFreely(TaskRegistry& r) {
    // Pairs with the schedule's exchange then load: a schedule that still saw
    // the tasks in step has its mark seen here.
    if (!gInStep.exchange(false, std::memory_order_seq_cst))
        return;
    for (auto& task : r.tasks)
        if (task->threaded && task->pending.load(std::memory_order_seq_cst))
            sem_post(&task->wake);
}

}  // namespace

AuxiliaryTask Bela_createAuxiliaryTask(void (*callback)(void*), int priority, const char* name, void* arg) {
    if (!callback)
        return nullptr;
    auto& r = registry();
    std::lock_guard<std::mutex> lock(r.mutex);
    auto task = std::make_unique<Task>();
    task->callback = callback;
    task->arg = arg;
    task->priority = priority;
    task->name = name ? name : "task";
    if (sem_init(&task->wake, 0, 0) != 0)
        return nullptr;
    task->threaded = r.threaded;
    if (task->threaded) {
        try {
            task->thread = std::thread(threadMain, task.get());
        } catch (...) {
            sem_destroy(&task->wake);
            return nullptr;
        }
        if (r.realTimePriorities && priority > 0) {
            sched_param param{};
            param.sched_priority = priority;
            pthread_setschedparam(task->thread.native_handle(), SCHED_FIFO, &param);  // best effort
        }
    }
    Task* handle = task.get();
    r.tasks.push_back(std::move(task));
    return handle;
}

int Bela_scheduleAuxiliaryTask(AuxiliaryTask handle) {
    auto* task = static_cast<Task*>(handle);
    if (!task)
        return EINVAL;
    if (!task->pending.exchange(true, std::memory_order_seq_cst) && task->threaded &&
        !gInStep.load(std::memory_order_seq_cst) && sem_post(&task->wake) != 0)
        return errno;
    return 0;
}

namespace host {

void tasksSetThreaded(bool threaded, bool realTimePriorities, bool inStep) {
    auto& r = registry();
    std::lock_guard<std::mutex> lock(r.mutex);
    r.threaded = threaded;
    r.realTimePriorities = realTimePriorities;
    if (threaded && inStep)
        gInStep.store(true, std::memory_order_seq_cst);
    else
        runFreely(r);
}

void tasksRunFreely() {
    auto& r = registry();
    std::lock_guard<std::mutex> lock(r.mutex);
    runFreely(r);
}

bool tasksInStep() { return gInStep.load(std::memory_order_relaxed); }

void tasksStopAll() {
    auto& r = registry();
    std::vector<std::unique_ptr<Task>> tasks;
    {
        std::lock_guard<std::mutex> lock(r.mutex);
        tasks.swap(r.tasks);
    }
    for (auto& task : tasks) {
        if (task->threaded) {
            task->quit.store(true, std::memory_order_release);
            sem_post(&task->wake);
            task->thread.join();
        }
        sem_destroy(&task->wake);
    }
}

bool tasksRunPending() {
    auto& r = registry();
    const bool inStep = gInStep.load(std::memory_order_seq_cst);
    // Offline this runs after every block: the list keeps its room.
    thread_local std::vector<Task*> due;
    due.clear();
    {
        std::lock_guard<std::mutex> lock(r.mutex);
        for (auto& task : r.tasks)
            if ((!task->threaded || inStep) && task->pending.load())
                due.push_back(task.get());
    }
    // In step, too, the run is the caller's: the loop would only wait for it
    // on the task's thread, at the price of a thread switch each way. No
    // task's code depends on the thread it runs on, beyond not being the
    // audio thread, which the loop leaves off around the runs.
    for (Task* task : due)
        task->run();
    return !due.empty();
}

}  // namespace host
