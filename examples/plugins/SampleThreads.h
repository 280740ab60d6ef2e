/* The little the threaded samples need from the system: one lock, an idle signal, a detached thread and a
   pause, on Windows and on POSIX systems alike. Each plug-in that includes it gets its own copy. */
#ifndef KWS_SAMPLE_THREADS_H
#define KWS_SAMPLE_THREADS_H

#ifdef _WIN32
#ifndef _WIN32_WINNT
#define _WIN32_WINNT 0x0600 /* condition variables */
#endif
#include <windows.h>

#define SAMPLE_THREAD(name) static DWORD WINAPI name(LPVOID argument)
#define SAMPLE_THREAD_END return 0

static SRWLOCK SampleLockObject = SRWLOCK_INIT;
static CONDITION_VARIABLE SampleIdleObject = CONDITION_VARIABLE_INIT;

static inline void SampleLock(void) {
  AcquireSRWLockExclusive(&SampleLockObject);
}
static inline void SampleUnlock(void) {
  ReleaseSRWLockExclusive(&SampleLockObject);
}
static inline void SampleSignalIdle(void) {
  WakeAllConditionVariable(&SampleIdleObject);
}
/* Under the lock: returns with the lock held once *running is 0. */
static inline void SampleWaitIdle(const int* running) {
  while (*running > 0)
    SleepConditionVariableSRW(&SampleIdleObject, &SampleLockObject, INFINITE, 0);
}
static inline int SampleStartThread(LPTHREAD_START_ROUTINE entry, void* argument) {
  HANDLE thread = CreateThread(NULL, 0, entry, argument, 0, NULL);
  if (thread == NULL)
    return -1;
  CloseHandle(thread);
  return 0;
}
static inline void SamplePause(unsigned milliseconds) {
  Sleep(milliseconds);
}

#else
#include <pthread.h>
#include <time.h>

#define SAMPLE_THREAD(name) static void* name(void* argument)
#define SAMPLE_THREAD_END return NULL

static pthread_mutex_t SampleLockObject = PTHREAD_MUTEX_INITIALIZER;
static pthread_cond_t SampleIdleObject = PTHREAD_COND_INITIALIZER;

static inline void SampleLock(void) {
  pthread_mutex_lock(&SampleLockObject);
}
static inline void SampleUnlock(void) {
  pthread_mutex_unlock(&SampleLockObject);
}
static inline void SampleSignalIdle(void) {
  pthread_cond_broadcast(&SampleIdleObject);
}
static inline void SampleWaitIdle(const int* running) {
  while (*running > 0)
    pthread_cond_wait(&SampleIdleObject, &SampleLockObject);
}
static inline int SampleStartThread(void* (*entry)(void*), void* argument) {
  pthread_t thread;
  if (pthread_create(&thread, NULL, entry, argument) != 0)
    return -1;
  pthread_detach(thread);
  return 0;
}
static inline void SamplePause(unsigned milliseconds) {
  struct timespec pause;
  pause.tv_sec = milliseconds / 1000;
  pause.tv_nsec = (long)(milliseconds % 1000) * 1000000L;
  nanosleep(&pause, NULL);
}
#endif

#endif
