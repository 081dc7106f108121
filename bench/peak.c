/* zk_peak OUT PROGRAM [ARG...]: runs the program to its end and writes to
   OUT its status, peak resident memory (KiB) and CPU seconds. The program is
   a child of this small process, forked rather than spawned, so that its
   peak is its own and not the benchmark's, whose memory a spawned child
   would be counted with. */
#include <stdio.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

int main(int argc, char** argv)
{
    if (argc < 3)
        return 2;
    const pid_t pid = fork();
    if (pid == 0) {
        execv(argv[2], argv + 2);
        _exit(127);
    }
    int status = 0;
    struct rusage used;
    if (pid < 0 || wait4(pid, &status, 0, &used) < 0)
        return 2;
    FILE* out = fopen(argv[1], "w");
    if (!out)
        return 2;
    fprintf(out, "%d %ld %.6f\n", WIFEXITED(status) ? WEXITSTATUS(status) : -1, used.ru_maxrss,
            used.ru_utime.tv_sec + used.ru_utime.tv_usec / 1e6 + used.ru_stime.tv_sec +
                used.ru_stime.tv_usec / 1e6);
    return fclose(out) != 0 ? 2 : 0;
}
