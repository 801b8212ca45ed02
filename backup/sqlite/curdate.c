/* CURDATE() for SQLite, so the recordings query runs unchanged on an SQLite data source: today's
   local date as 'YYYY-MM-DD', the form that compares correctly with stored date-time texts. */
#include <sqlite3ext.h>
#include <time.h>

SQLITE_EXTENSION_INIT1

static void CurrentDate(sqlite3_context* context, int argc, sqlite3_value** argv) {
  (void)argc;
  (void)argv;
  time_t now = time(NULL);
  struct tm local;
  char text[16];
  if (!localtime_r(&now, &local) || strftime(text, sizeof text, "%Y-%m-%d", &local) == 0) {
    sqlite3_result_error(context, "CURDATE: local time unavailable", -1);
    return;
  }
  sqlite3_result_text(context, text, -1, SQLITE_TRANSIENT);
}

/* Not deterministic: the value changes at midnight. */
static int RegisterCurdate(sqlite3* db) {
  return sqlite3_create_function(db, "CURDATE", 0, SQLITE_UTF8, NULL, CurrentDate, NULL, NULL);
}

int sqlite3_extension_init(sqlite3* db, char** errorMessage, const sqlite3_api_routines* api) {
  (void)errorMessage;
  SQLITE_EXTENSION_INIT2(api);
  return RegisterCurdate(db);
}
