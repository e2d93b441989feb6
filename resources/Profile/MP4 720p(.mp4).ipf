<Profile>
<ResWidth>1280</ResWidth>
<ResHeight>720</ResHeight>
<AspectRatio>0</AspectRatio>
<VideoBR>5000</VideoBR>
<AudioBR>4</AudioBR>
<FrameRate>0</FrameRate>
<CodecName>H.264 (MP4)</CodecName>
<CodecSettings/>
</Profile>
