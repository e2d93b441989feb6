<Profile>
<ResWidth>3840</ResWidth>
<ResHeight>2160</ResHeight>
<AspectRatio>0</AspectRatio>
<VideoBR>35000</VideoBR>
<AudioBR>5</AudioBR>
<FrameRate>0</FrameRate>
<CodecName>H.264 (MP4)</CodecName>
<CodecSettings/>
</Profile>
