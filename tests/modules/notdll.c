/* An executable image: the loader maps it but never runs its entry point,
   which would fault. */
void start(void)
{
    __asm__ volatile("ud2");
}
