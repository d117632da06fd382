/* What a test plugin records, read by the tests through its export tp_state. */
#ifndef TEST_PLUGIN_STATE_H
#define TEST_PLUGIN_STATE_H

#include <stdint.h>

typedef struct TestPluginState {
  const char* identity;
  int init_calls;
  int init_form;                /* 1: info block, 2: apidata + key */
  char apidata_head[64];        /* the first bytes of the apidata text */
  uintptr_t apidata_first_addr; /* the address of the first API in it */
  char key[128];                /* GBK, as received */
  uintptr_t info_words[26];
  int registered; /* API calls made through the info block that succeeded */
  int start_calls, end_calls, unload_calls;
  int group_calls, private_calls, event_calls, enabled_calls, disabled_calls;
  int group_export_calls;
  int group_reg_calls;  /* the handler registered by a two-argument init */
  int32_t group_result; /* what the group handler returns */
  char last_text[512];  /* the message or content of the last message/event */
  char last_qq[64];     /* the text given to enabled/disabled */
  int64_t last_bot;
  int32_t last_event_type;
  /* Lifecycle variants: */
  int panel_calls, hook_calls;
  volatile int hold;    /* while set, the group handler waits */
  int spin_us;          /* how long the group handler works */
  int inside, overlaps; /* group calls running now; calls that found another running */
  char hook_api[64];    /* the API name the send hook saw */
  char hook_app[128];   /* the plugin name (GBK) it saw */
  /* What tp_walk read through the SDK's records, field by field: */
  int32_t members, groups; /* the counts the queries returned */
  int64_t m_group, m_user, m_join, m_last, m_muted;
  int32_t m_age, m_level;
  char m_nick[32], m_card[32], m_sex[16], m_area[32], m_role[16], m_title[32];
  int64_t g_id, g_members, g_max;
  char g_name[32];
} TestPluginState;

#endif
