// DS_Entry: the identity, opening and closing, the state machine, the condition code and the
// notifications to the application.
#include <cstring>

#include "profile_store.h"
#include "qrcamlib.h"
#include "source_fixture.h"

namespace twaintest {
namespace {

// Straight into DS_Entry: the states before any open and the notifications are seen only there.
class Entry : public Source {
 protected:
  Entry() : Source(Route::kDirect) {}
};

TEST_F(Entry, IdentityBeforeAnyOpenIsTheSourcesOwnWithId0) {
  TW_IDENTITY identity;
  std::memset(&identity, 0x5a, sizeof identity);
  ASSERT_EQ(TWRC_SUCCESS, call(DG_CONTROL, DAT_IDENTITY, MSG_GET, &identity));
  EXPECT_EQ(0u, identity.Id);
  EXPECT_EQ(1, identity.Version.MajorNum);
  EXPECT_EQ(49, identity.Version.MinorNum);
  EXPECT_EQ(TWLG_USA, identity.Version.Language);
  EXPECT_EQ(TWCY_USA, identity.Version.Country);
  EXPECT_STREQ("Version 6.9.1.49", identity.Version.Info);
  EXPECT_EQ(1, identity.ProtocolMajor);
  EXPECT_EQ(7, identity.ProtocolMinor);
  EXPECT_EQ(3u, identity.SupportedGroups);
  EXPECT_STREQ("Orvane Imaging Inc. ", identity.Manufacturer);
  EXPECT_STREQ("Quorel", identity.ProductFamily);
  EXPECT_STREQ("Quorel Twain Driver 6.9.1.49", identity.ProductName);
}

TEST_F(Entry, OpenTakesTheManagersIdentityAppliesTheProfileAndRewritesItsRevision) {
  // A profile of another revision keeps its values and is written back as revision 49.
  profiles::ProfileSettings stored(profiles::kTwainLayout);
  stored[PROFILE_VALUE(profiles::kTwainLayout, "Video Gain")] = 77;
  stored[PROFILE_VALUE(profiles::kTwainLayout, "Shutter Value")] = 300;
  ASSERT_TRUE(profiles::writeCurrentProfile("Twain", 0));
  ASSERT_TRUE(profiles::saveProfile(stored));
  ASSERT_TRUE(profiles::writeCurrentProfile("Twain", 0));
  HKEY key;
  ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyA(HKEY_LOCAL_MACHINE, "Software\\Orvane Imaging\\Twain\\UserProfile1", &key));
  ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(key, "Revision", 0, REG_SZ, reinterpret_cast<const BYTE*>("12"), 3));
  RegCloseKey(key);
  ASSERT_EQ(12, profiles::storedRevision(profiles::kTwainLayout));

  openWithCamera();
  EXPECT_EQ(49, profiles::storedRevision(profiles::kTwainLayout));
  EXPECT_EQ(77, QRGetGain());
  EXPECT_EQ(1, QRGetPowerEn());
  EXPECT_EQ(3, QRGetLEDEn());
  EXPECT_EQ(0, QRGetFastGrabEn());
  EXPECT_EQ(40, QRGetNF());
  TW_IDENTITY identity{};
  ASSERT_EQ(TWRC_SUCCESS, call(DG_CONTROL, DAT_IDENTITY, MSG_GET, &identity));
  EXPECT_EQ(kSourceId, identity.Id);
  EXPECT_TRUE(notifiedMessages().empty());
  // Open: MSG_ENABLEDS is allowed (state 4), and closing switches the LED and power off.
  TW_UINT32 group = 0;
  EXPECT_EQ(TWRC_SUCCESS, call(DG_CONTROL, DAT_XFERGROUP, MSG_GET, &group));
  EXPECT_EQ(TWRC_SUCCESS, call(DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, nullptr));
  EXPECT_EQ(TWCC_SUCCESS, conditionCode());
  expectFailure(TWCC_SEQERROR, DG_CONTROL, DAT_XFERGROUP, MSG_GET, &group);
}

TEST_F(Entry, OpenWithoutACameraSucceedsStaysClosedAndAsksToBeClosed) {
  ASSERT_EQ(TWRC_SUCCESS, openSource());
  EXPECT_EQ(TWCC_BUMMER, conditionCode());
  EXPECT_EQ(std::vector<TW_UINT16>{MSG_CLOSEDSREQ}, notifiedMessages());
  TW_USERINTERFACE ui{FALSE, FALSE, nullptr};
  expectFailure(TWCC_SEQERROR, DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS, &ui);
  EXPECT_EQ(TWRC_SUCCESS, call(DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, nullptr));

  // The application stays held: its next open reports the held connection but, with a camera
  // now there, reaches state 4.
  qrtest::plug(0, qrtest::usbCamera(0x0403, "SN-LATE"));
  ASSERT_EQ(TWRC_SUCCESS, openSource());
  EXPECT_EQ(TWCC_MAXCONNECTIONS, conditionCode());
  EXPECT_EQ((std::vector<TW_UINT16>{MSG_CLOSEDSREQ, MSG_CLOSEDSREQ}), notifiedMessages());
  EXPECT_EQ(TWRC_SUCCESS, call(DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS, &ui));
}

TEST_F(Entry, ASecondApplicationsCallsDoNothingToTheFirstsSession) {
  openWithCamera();
  TW_CAPABILITY cap{0x7777, TWON_ONEVALUE, nullptr};
  ASSERT_EQ(TWRC_FAILURE, call(DG_CONTROL, DAT_CAPABILITY, MSG_GET, &cap));  // TWCC_BADCAP pending

  TW_IDENTITY other = application_;
  other.Id = kApplicationId + 1;
  TW_STATUS status{0xffff, 0xffff};
  EXPECT_EQ(TWRC_FAILURE, callAs(other, DG_CONTROL, DAT_STATUS, MSG_GET, &status));
  EXPECT_EQ(0xffff, status.ConditionCode);
  EXPECT_EQ(TWRC_FAILURE, callAs(other, DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, nullptr));
  TW_USERINTERFACE ui{FALSE, FALSE, nullptr};
  EXPECT_EQ(TWRC_FAILURE, callAs(other, DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS, &ui));
  EXPECT_EQ(TWRC_FAILURE, entry_(nullptr, DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, nullptr));

  EXPECT_EQ(TWCC_BADCAP, conditionCode());
  EXPECT_TRUE(notifiedMessages().empty());
  EXPECT_EQ(TWRC_SUCCESS, call(DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS, &ui));
  EXPECT_EQ(std::vector<TW_UINT16>{MSG_XFERREADY}, notifiedMessages());
}

TEST_F(Entry, ProcessEventWithoutAWindowIsNotTheSourcesAndKeepsTheConditionCode) {
  MSG message{};
  TW_EVENT event{&message, 0x1234};
  // Closed, open and enabled alike.
  for (int step = 0; step < 3; ++step) {
    TW_CAPABILITY cap{CAP_XFERCOUNT, TWON_ONEVALUE, nullptr};
    ASSERT_EQ(TWRC_FAILURE, call(DG_CONTROL, DAT_CAPABILITY, MSG_SET, &cap));  // TWCC_BADVALUE
    EXPECT_EQ(TWRC_NOTDSEVENT, call(DG_CONTROL, DAT_EVENT, MSG_PROCESSEVENT, &event));
    EXPECT_EQ(TWRC_NOTDSEVENT, call(DG_IMAGE, DAT_NULL, MSG_PROCESSEVENT, nullptr));
    EXPECT_EQ(0x1234, event.TWMessage);
    EXPECT_EQ(TWCC_BADVALUE, conditionCode()) << "step " << step;
    if (step == 0) openWithCamera();
    if (step == 1) {
      TW_USERINTERFACE ui{FALSE, FALSE, nullptr};
      ASSERT_EQ(TWRC_SUCCESS, call(DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS, &ui));
    }
  }
}

TEST_F(Entry, StatusReportsAFailureOnceAndThenSuccess) {
  TW_CAPABILITY cap{CAP_XFERCOUNT, TWON_ONEVALUE, GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, sizeof(TW_ONEVALUE))};
  ASSERT_EQ(TWRC_FAILURE, call(DG_CONTROL, DAT_CAPABILITY, MSG_SET, &cap));
  GlobalFree(cap.hContainer);
  EXPECT_EQ(TWCC_BADVALUE, conditionCode());
  EXPECT_EQ(TWCC_SUCCESS, conditionCode());
  // Any other call resets it too.
  ASSERT_EQ(TWRC_FAILURE, call(DG_CONTROL, DAT_PARENT, MSG_GET, nullptr));
  TW_IDENTITY identity;
  ASSERT_EQ(TWRC_SUCCESS, call(DG_CONTROL, DAT_IDENTITY, MSG_GET, &identity));
  EXPECT_EQ(TWCC_SUCCESS, conditionCode());
}

TEST_F(Entry, EnableWithoutInterfaceAnnouncesTheImageBeforeItReturns) {
  openWithCamera();
  TW_USERINTERFACE ui{FALSE, FALSE, nullptr};
  ASSERT_EQ(TWRC_SUCCESS, call(DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS, &ui));
  EXPECT_EQ(std::vector<TW_UINT16>{MSG_XFERREADY}, notifiedMessages());
  TW_IMAGEINFO info{};
  EXPECT_EQ(TWRC_SUCCESS, call(DG_IMAGE, DAT_IMAGEINFO, MSG_GET, &info));  // state 6
}

struct Triplet {
  TW_UINT32 dg;
  TW_UINT16 dat, msg;
};

TEST_F(Entry, TripletsOutsideTheirStatesFailWithSequenceErrors) {
  TW_UINT8 buffer[2048] = {};
  const Triplet closed[] = {
      {DG_CONTROL, DAT_XFERGROUP, MSG_GET},
      {DG_CONTROL, DAT_SETUPMEMXFER, MSG_GET},
      {DG_IMAGE, DAT_PALETTE8, MSG_GET},
      {DG_CONTROL, DAT_PENDINGXFERS, MSG_GET},
      {DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS},
      {DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS},
      {DG_IMAGE, DAT_IMAGEINFO, MSG_GET},
      {DG_IMAGE, DAT_IMAGENATIVEXFER, MSG_GET},
  };
  for (const Triplet& t : closed) expectFailure(TWCC_SEQERROR, t.dg, t.dat, t.msg, buffer);

  openWithCamera();
  const Triplet open[] = {
      {DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS},
      {DG_CONTROL, DAT_PENDINGXFERS, MSG_RESET},
      {DG_IMAGE, DAT_IMAGEINFO, MSG_GET},
      {DG_IMAGE, DAT_IMAGENATIVEXFER, MSG_GET},
      {DG_CONTROL, DAT_IDENTITY, MSG_OPENDS},
  };
  for (const Triplet& t : open) {
    std::memcpy(buffer, &managerCopy_, sizeof managerCopy_);
    if (t.msg == MSG_OPENDS) {
      // Open always answers success; the failure is in the condition code and a close request.
      EXPECT_EQ(TWRC_SUCCESS, call(t.dg, t.dat, t.msg, buffer));
      EXPECT_EQ(TWCC_SEQERROR, conditionCode());
      EXPECT_EQ(std::vector<TW_UINT16>{MSG_CLOSEDSREQ}, notifiedMessages());
    } else {
      expectFailure(TWCC_SEQERROR, t.dg, t.dat, t.msg, buffer);
    }
  }

  TW_USERINTERFACE ui{FALSE, FALSE, nullptr};
  ASSERT_EQ(TWRC_SUCCESS, call(DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS, &ui));
  expectFailure(TWCC_SEQERROR, DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS, &ui);
}

TEST_F(Entry, UnansweredGroupsArgumentsAndMessagesFailWithBadProtocol) {
  acquire();
  TW_UINT8 buffer[2048] = {};
  const Triplet triplets[] = {
      {4, DAT_IDENTITY, MSG_GET},
      {DG_CONTROL, DAT_EVENT, MSG_GET},
      {DG_CONTROL, DAT_PARENT, MSG_OPENDSM},
      {DG_CONTROL, DAT_SETUPFILEXFER, MSG_GET},
      {DG_CONTROL, 0x0abc, MSG_GET},
      {DG_IMAGE, 0x0109, MSG_GET},
      {DG_CONTROL, DAT_IDENTITY, MSG_SET},
      {DG_CONTROL, DAT_STATUS, MSG_SET},
      {DG_CONTROL, DAT_PENDINGXFERS, MSG_SET},
      {DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDSUIONLY},
      {DG_CONTROL, DAT_XFERGROUP, MSG_QUERYSUPPORT},
      {DG_CONTROL, DAT_CAPABILITY, MSG_QUERYSUPPORT},
      {DG_CONTROL, DAT_CAPABILITY, MSG_GETFIRST},
      {DG_CONTROL, DAT_SETUPMEMXFER, MSG_SET},
      {DG_IMAGE, DAT_IMAGEINFO, MSG_SET},
      {DG_IMAGE, DAT_IMAGELAYOUT, MSG_QUERYSUPPORT},
      {DG_IMAGE, DAT_IMAGENATIVEXFER, MSG_SET},
      {DG_IMAGE, DAT_IMAGEMEMXFER, MSG_SET},
      {DG_IMAGE, DAT_IMAGEFILEXFER, MSG_SET},
      {DG_IMAGE, DAT_PALETTE8, MSG_GETCURRENT},
      {DG_IMAGE, DAT_PALETTE8, MSG_SET},
  };
  for (const Triplet& t : triplets) expectFailure(TWCC_BADPROTOCOL, t.dg, t.dat, t.msg, buffer);
}

TEST_F(Entry, PendingTransfersAlwaysReportNoneAndResetReturnsToEnabled) {
  acquire();
  TW_PENDINGXFERS pending{5, 0xabcdef01};
  ASSERT_EQ(TWRC_SUCCESS, call(DG_CONTROL, DAT_PENDINGXFERS, MSG_ENDXFER, &pending));
  EXPECT_EQ(0, pending.Count);
  EXPECT_EQ(0xabcdef01u, pending.EOJ);
  TW_IMAGEINFO info{};
  EXPECT_EQ(TWRC_SUCCESS, call(DG_IMAGE, DAT_IMAGEINFO, MSG_GET, &info));  // still state 6
  pending.Count = 3;
  ASSERT_EQ(TWRC_SUCCESS, call(DG_CONTROL, DAT_PENDINGXFERS, MSG_GET, &pending));
  EXPECT_EQ(0, pending.Count);
  pending.Count = 3;
  ASSERT_EQ(TWRC_SUCCESS, call(DG_CONTROL, DAT_PENDINGXFERS, MSG_RESET, &pending));
  EXPECT_EQ(0, pending.Count);
  expectFailure(TWCC_SEQERROR, DG_IMAGE, DAT_IMAGEINFO, MSG_GET, &info);  // state 5
  EXPECT_EQ(TWRC_SUCCESS, call(DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS, nullptr));
  TW_UINT32 group = 0;
  EXPECT_EQ(TWRC_SUCCESS, call(DG_CONTROL, DAT_XFERGROUP, MSG_GET, &group));  // state 4
}

TEST_F(Entry, FileTransferEndsAtOnceInEveryState) {
  EXPECT_EQ(TWRC_XFERDONE, call(DG_IMAGE, DAT_IMAGEFILEXFER, MSG_GET, nullptr));
  acquire();
  EXPECT_EQ(TWRC_XFERDONE, call(DG_IMAGE, DAT_IMAGEFILEXFER, MSG_GET, nullptr));
}

TEST_F(Entry, TransferGroupIsImageInTheLowHalfOnly) {
  openWithCamera();
  for (TW_UINT16 msg : {MSG_GET, MSG_GETCURRENT, MSG_GETDEFAULT, MSG_RESET}) {
    TW_UINT32 group = 0x12340000UL | 0x5555;
    ASSERT_EQ(TWRC_SUCCESS, call(DG_CONTROL, DAT_XFERGROUP, msg, &group));
    EXPECT_EQ(0x12340000UL | DG_IMAGE, group) << msg;
  }
  TW_UINT32 group = DG_CONTROL;
  EXPECT_EQ(TWRC_SUCCESS, call(DG_CONTROL, DAT_XFERGROUP, MSG_SET, &group));
  EXPECT_EQ(DG_CONTROL, group);
}

TEST_F(Entry, NullDataNeverCrashesTheSource) {
  acquire();
  const Triplet triplets[] = {
      {DG_CONTROL, DAT_IDENTITY, MSG_GET},      {DG_CONTROL, DAT_CAPABILITY, MSG_GET},
      {DG_CONTROL, DAT_CAPABILITY, MSG_SET},    {DG_CONTROL, DAT_STATUS, MSG_GET},
      {DG_CONTROL, DAT_XFERGROUP, MSG_GET},     {DG_CONTROL, DAT_SETUPMEMXFER, MSG_GET},
      {DG_IMAGE, DAT_IMAGEINFO, MSG_GET},       {DG_IMAGE, DAT_IMAGELAYOUT, MSG_GET},
      {DG_IMAGE, DAT_IMAGELAYOUT, MSG_SET},     {DG_IMAGE, DAT_PALETTE8, MSG_GET},
      {DG_IMAGE, DAT_IMAGENATIVEXFER, MSG_GET}, {DG_IMAGE, DAT_IMAGEMEMXFER, MSG_GET},
  };
  for (const Triplet& t : triplets) {
    EXPECT_EQ(TWRC_FAILURE, call(t.dg, t.dat, t.msg, nullptr)) << t.dat << " " << t.msg;
    if (t.dat != DAT_STATUS) {
      EXPECT_EQ(TWCC_BADVALUE, conditionCode()) << t.dat << " " << t.msg;
    }
  }
  EXPECT_EQ(TWRC_SUCCESS, call(DG_CONTROL, DAT_PENDINGXFERS, MSG_ENDXFER, nullptr));
  TW_USERINTERFACE ui{FALSE, FALSE, nullptr};
  EXPECT_EQ(TWRC_SUCCESS, call(DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS, nullptr));
  expectFailure(TWCC_BADVALUE, DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS, nullptr);
  EXPECT_EQ(TWRC_SUCCESS, call(DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS, &ui));
}

}  // namespace
}  // namespace twaintest
