<Profile>
<ResWidth>1920</ResWidth>
<ResHeight>1080</ResHeight>
<AspectRatio>0</AspectRatio>
<VideoBR>8000</VideoBR>
<AudioBR>5</AudioBR>
<FrameRate>0</FrameRate>
<CodecName>H.264 (MP4)</CodecName>
<CodecSettings/>
</Profile>
