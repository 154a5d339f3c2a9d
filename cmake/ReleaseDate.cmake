# The release's date, from its heading in CHANGELOG.md ("## 1.2.0 (2026-12-08)"), the one place it
# is written: the manual page and the Debian changelog take it from here. The heading must be the
# first one and name PROJECT_VERSION.
#   IMPX_RELEASE_DATE          2026-12-08
#   IMPX_RELEASE_DATE_RFC2822  Tue, 08 Dec 2026 00:00:00 +0000
file(STRINGS ${PROJECT_SOURCE_DIR}/CHANGELOG.md impx_heading REGEX "^## " LIMIT_COUNT 1)
if(NOT impx_heading MATCHES "^## ([0-9.]+) \\(([0-9][0-9][0-9][0-9])-([0-9][0-9])-([0-9][0-9])\\)$"
   OR NOT CMAKE_MATCH_1 STREQUAL PROJECT_VERSION)
  message(FATAL_ERROR "CHANGELOG.md must begin with \"## ${PROJECT_VERSION} (YYYY-MM-DD)\", "
                      "not \"${impx_heading}\"")
endif()
set(IMPX_RELEASE_DATE "${CMAKE_MATCH_2}-${CMAKE_MATCH_3}-${CMAKE_MATCH_4}")
set(impx_calendar_year ${CMAKE_MATCH_2})
set(impx_day_text ${CMAKE_MATCH_4})

# The day of the week, by Sakamoto's method (0 is Sunday).
math(EXPR impx_day "${impx_day_text} + 0")
math(EXPR impx_month "${CMAKE_MATCH_3} + 0")
set(impx_year ${CMAKE_MATCH_2})
if(impx_month LESS 3)
  math(EXPR impx_year "${impx_year} - 1")  # January and February count with the year before
endif()
math(EXPR impx_month_index "${impx_month} - 1")
set(impx_offsets 0 3 2 5 0 3 5 1 4 6 2 4)
list(GET impx_offsets ${impx_month_index} impx_offset)
math(EXPR impx_weekday
     "(${impx_year} + ${impx_year} / 4 - ${impx_year} / 100 + ${impx_year} / 400 + ${impx_offset} + ${impx_day}) % 7")
set(impx_weekdays Sun Mon Tue Wed Thu Fri Sat)
set(impx_months Jan Feb Mar Apr May Jun Jul Aug Sep Oct Nov Dec)
list(GET impx_weekdays ${impx_weekday} impx_weekday_name)
list(GET impx_months ${impx_month_index} impx_month_name)
set(IMPX_RELEASE_DATE_RFC2822
    "${impx_weekday_name}, ${impx_day_text} ${impx_month_name} ${impx_calendar_year} 00:00:00 +0000")
