/* The yardstick for a whole process: starts and ends, nothing else. */
int main(void)
{
    return 0;
}
