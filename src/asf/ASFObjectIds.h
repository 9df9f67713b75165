// The identifiers of the header objects, header extension objects and
// stream types that the demultiplexer reads beyond the basic ones.
#pragma once

#include "asf/ASFGuid.h"

namespace asf_id
{

// Header objects.
inline constexpr guid_t kHeaderExtension = make_guid("5FBF03B5-A92E-11CF-8EE3-00C00C205365");
inline constexpr guid_t kContentDescription = make_guid("75B22633-668E-11CF-A6D9-00AA0062CE6C");
inline constexpr guid_t kExtendedContentDescription =
    make_guid("D2D0A440-E307-11D2-97F0-00A0C95EA850");
inline constexpr guid_t kStreamBitrateProperties =
    make_guid("7BF875CE-468D-11D1-8D82-006097C9A2B2");
inline constexpr guid_t kBitrateMutualExclusion = make_guid("D6E229DC-35DA-11D1-9034-00A0C90349BE");
inline constexpr guid_t kMarker = make_guid("F487CD01-A951-11CF-8EE6-00C00C205365");
inline constexpr guid_t kScriptCommand = make_guid("1EFB1A30-0B62-11D0-A39B-00A0C90348F6");
inline constexpr guid_t kContentEncryption = make_guid("2211B3FB-BD23-11D2-B4B7-00A0C955FC6E");
inline constexpr guid_t kExtendedContentEncryption =
    make_guid("298AE614-2622-4C17-B935-DAE07EE9289C");

// Objects inside the Header Extension object.
inline constexpr guid_t kExtendedStreamProperties =
    make_guid("14E6A5CB-C672-4332-8399-A96952065B5A");
inline constexpr guid_t kAdvancedMutualExclusion =
    make_guid("A08649CF-4775-4670-8A16-6E35357566CD");
inline constexpr guid_t kGroupMutualExclusion = make_guid("D1465A40-5A79-4338-B71B-E36B8FD6C249");
inline constexpr guid_t kStreamPrioritization = make_guid("D4FED15B-88D3-454F-81F0-ED5C45999E24");
inline constexpr guid_t kLanguageList = make_guid("7C4346A9-EFE0-4BFC-B229-393EDE415C85");
inline constexpr guid_t kMetadata = make_guid("C5F8CBEA-5BAF-4877-8467-AA8C44FA4CCA");
inline constexpr guid_t kMetadataLibrary = make_guid("44231C94-9498-49D1-A141-1D134E457054");
inline constexpr guid_t kAdvancedContentEncryption =
    make_guid("43058533-6981-49E6-9B74-AD12CB86D58C");

// Reserved fields that files carry as written.
inline constexpr guid_t kHeaderExtensionReserved =
    make_guid("ABD3D211-A9BA-11CF-8EE6-00C00C205365");
inline constexpr guid_t kMarkerReserved = make_guid("4CFEDB20-75F6-11CF-9C0F-00A0C90349CB");
inline constexpr guid_t kScriptCommandReserved = make_guid("4B1ACBE3-100B-11D0-A39B-00A0C90348F6");
// Mutual exclusion by bitrate: the streams are the same content at
// different rates.
inline constexpr guid_t kMutexBitrate = make_guid("D6E22A01-35DA-11D1-9034-00A0C90349BE");
inline constexpr guid_t kMutexLanguage = make_guid("D6E22A00-35DA-11D1-9034-00A0C90349BE");

// Stream types beyond audio and video.
inline constexpr guid_t kCommandMedia = make_guid("59DACFC0-59E6-11D0-A3AC-00A0C90348F6");
inline constexpr guid_t kJFIFMedia = make_guid("B61BE100-5B4E-11CF-A8FD-00805F5C442B");
inline constexpr guid_t kDegradableJPEGMedia = make_guid("35907DE0-E415-11CF-A917-00805F5C442B");
inline constexpr guid_t kFileTransferMedia = make_guid("91BD222C-F21C-497A-8B6D-5AA86BFC0185");
inline constexpr guid_t kBinaryMedia = make_guid("3AFB65E2-47EF-40F2-AC2C-70A90D71D343");

} // namespace asf_id
