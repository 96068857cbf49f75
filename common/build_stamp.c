/* The build date and time in every log line of a program. Compiled again
   right before each program is linked (obrin_build_stamp in cmake/Obrin.cmake),
   so the stamp is that program's own. */
const char g_ObrinBuildDate[] = __DATE__;
const char g_ObrinBuildTime[] = __TIME__;
