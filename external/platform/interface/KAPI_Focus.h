// KAPI_Focus: the client-name service.
#ifndef OBJSTORE_PLATFORM_KAPI_FOCUS_H_
#define OBJSTORE_PLATFORM_KAPI_FOCUS_H_

class KAPI_Focus {
 public:
  // The client machine's name: OBJSTORE_CLIENT_NAME when set, else the host name. Never null;
  // the text stays valid until the next call on any thread.
  static const char* getFocusClientName(bool refresh);
};

#endif  // OBJSTORE_PLATFORM_KAPI_FOCUS_H_
